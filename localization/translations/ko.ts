<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR">
<context>
    <name></name>
    <message id="action.allow">
        <source>action.allow</source>
        <translation>허용</translation>
    </message>
    <message id="action.block">
        <source>action.block</source>
        <translation>차단</translation>
    </message>
    <message id="action.cancel">
        <source>action.cancel</source>
        <translation>취소</translation>
    </message>
    <message id="action.cancel_connection">
        <source>action.cancel_connection</source>
        <translation>연결 취소</translation>
    </message>
    <message id="action.connect">
        <source>action.connect</source>
        <translation>연결</translation>
    </message>
    <message id="action.connecting">
        <source>action.connecting</source>
        <translation>연결 중…</translation>
    </message>
    <message id="action.continue">
        <source>action.continue</source>
        <translation>계속</translation>
    </message>
    <message id="action.end">
        <source>action.end</source>
        <translation>종료</translation>
    </message>
    <message id="action.end_support">
        <source>action.end_support</source>
        <translation>지원 종료</translation>
    </message>
    <message id="action.ending">
        <source>action.ending</source>
        <translation>종료 중…</translation>
    </message>
    <message id="action.ok">
        <source>action.ok</source>
        <translation>확인</translation>
    </message>
    <message id="action.open_settings">
        <source>action.open_settings</source>
        <translation>설정 열기</translation>
    </message>
    <message id="action.sending">
        <source>action.sending</source>
        <translation>보내는 중…</translation>
    </message>
    <message id="chat.button">
        <source>chat.button</source>
        <translation>채팅</translation>
    </message>
    <message id="chat.placeholder">
        <source>chat.placeholder</source>
        <translation>메시지를 입력하세요</translation>
    </message>
    <message id="chat.read">
        <source>chat.read</source>
        <translation>읽음</translation>
    </message>
    <message id="chat.requires_connection">
        <source>chat.requires_connection</source>
        <translation>채팅은 상담원이 연결된 후에 사용할 수 있습니다.</translation>
    </message>
    <message id="chat.send">
        <source>chat.send</source>
        <translation>보내기</translation>
    </message>
    <message id="chat.support_agent">
        <source>chat.support_agent</source>
        <translation>상담원</translation>
    </message>
    <message id="chat.unread">
        <source>chat.unread</source>
        <translation>읽지 않음</translation>
    </message>
    <message id="chat.unread_count">
        <source>chat.unread_count</source>
        <translation>읽지 않은 메시지</translation>
    </message>
    <message id="chat.window_title">
        <source>chat.window_title</source>
        <translation>지원 채팅</translation>
    </message>
    <message id="chat.with_agent">
        <source>chat.with_agent</source>
        <translation>상담원과 채팅</translation>
    </message>
    <message id="client.removal.failed_message">
        <source>client.removal.failed_message</source>
        <translation>이 컴퓨터에서 Doorwarden을 직접 삭제해 주세요. Doorwarden은 이제 종료됩니다.</translation>
    </message>
    <message id="client.removal.failed_title">
        <source>client.removal.failed_title</source>
        <translation>Doorwarden을 제거하지 못했습니다</translation>
    </message>
    <message id="client.removal.not_ready">
        <source>client.removal.not_ready</source>
        <translation>이 컴퓨터에서 Doorwarden을 자동으로 제거할 수 없습니다.</translation>
    </message>
    <message id="client.removal.ready">
        <source>client.removal.ready</source>
        <translation>세션이 끝나면 이 컴퓨터에서 Doorwarden이 제거됩니다.</translation>
    </message>
    <message id="common.please_wait">
        <source>common.please_wait</source>
        <translation>잠시만 기다려 주세요…</translation>
    </message>
    <message id="drawing.active_button">
        <source>drawing.active_button</source>
        <translation>그리기 끝내기</translation>
    </message>
    <message id="drawing.arrow">
        <source>drawing.arrow</source>
        <translation>화살표</translation>
    </message>
    <message id="drawing.button">
        <source>drawing.button</source>
        <translation>그리기</translation>
    </message>
    <message id="drawing.clear_all">
        <source>drawing.clear_all</source>
        <translation>모두 지우기</translation>
    </message>
    <message id="drawing.clear_mine">
        <source>drawing.clear_mine</source>
        <translation>내 그림 지우기</translation>
    </message>
    <message id="drawing.close">
        <source>drawing.close</source>
        <translation>그리기 닫기</translation>
    </message>
    <message id="drawing.customer">
        <source>drawing.customer</source>
        <translation>고객</translation>
    </message>
    <message id="drawing.medium">
        <source>drawing.medium</source>
        <translation>보통</translation>
    </message>
    <message id="drawing.participant">
        <source>drawing.participant</source>
        <translation>참여자</translation>
    </message>
    <message id="drawing.pen">
        <source>drawing.pen</source>
        <translation>펜</translation>
    </message>
    <message id="drawing.rectangle">
        <source>drawing.rectangle</source>
        <translation>사각형</translation>
    </message>
    <message id="drawing.status_active">
        <source>drawing.status_active</source>
        <translation>그리기 모드가 켜졌습니다. 화면을 드래그해서 그려 보세요.</translation>
    </message>
    <message id="drawing.status_author">
        <source>drawing.status_author</source>
        <translation>%1 님이 화면에 그리고 있습니다.</translation>
    </message>
    <message id="drawing.thick">
        <source>drawing.thick</source>
        <translation>굵게</translation>
    </message>
    <message id="drawing.thin">
        <source>drawing.thin</source>
        <translation>가늘게</translation>
    </message>
    <message id="drawing.undo">
        <source>drawing.undo</source>
        <translation>실행 취소</translation>
    </message>
    <message id="drawing.viewer">
        <source>drawing.viewer</source>
        <translation>상담원</translation>
    </message>
    <message id="ending.ended_title">
        <source>ending.ended_title</source>
        <translation>원격 지원이 종료되었습니다</translation>
    </message>
    <message id="ending.permission_notice">
        <source>ending.permission_notice</source>
        <translation>Doorwarden에 허용한 권한은 시스템 설정에서 해제할 수 있습니다.</translation>
    </message>
    <message id="ending.reconnect">
        <source>ending.reconnect</source>
        <translation>다시 연결</translation>
    </message>
    <message id="ending.reconnect_hint">
        <source>ending.reconnect_hint</source>
        <translation>다시 지원을 받으려면 창이 닫히기 전에 ‘다시 연결’을 눌러 주세요.</translation>
    </message>
    <message id="ending.removing_title">
        <source>ending.removing_title</source>
        <translation>Doorwarden을 제거하는 중</translation>
    </message>
    <message id="error.invalid_relay_address">
        <source>error.invalid_relay_address</source>
        <translation>서버 주소가 올바르지 않습니다. 지원 담당자에게 문의해 주세요.</translation>
    </message>
    <message id="error.report.accepted">
        <source>error.report.accepted</source>
        <translation>오류 보고가 접수되었습니다. 감사합니다.</translation>
    </message>
    <message id="error.report.accepted_with_id">
        <source>error.report.accepted_with_id</source>
        <translation>오류 보고가 접수되었습니다. 접수 번호: %1</translation>
    </message>
    <message id="exit.confirm_message">
        <source>exit.confirm_message</source>
        <translation>원격 지원이 진행 중입니다. 앱을 종료하면 상담원과의 지원 세션도 함께 종료됩니다.</translation>
    </message>
    <message id="exit.confirm_title">
        <source>exit.confirm_title</source>
        <translation>지원을 종료하고 앱을 닫을까요?</translation>
    </message>
    <message id="file.quick_desktop">
        <source>file.quick_desktop</source>
        <translation>데스크톱</translation>
    </message>
    <message id="file.quick_documents">
        <source>file.quick_documents</source>
        <translation>문서</translation>
    </message>
    <message id="file.quick_downloads">
        <source>file.quick_downloads</source>
        <translation>다운로드</translation>
    </message>
    <message id="file.quick_movies">
        <source>file.quick_movies</source>
        <translation>동영상</translation>
    </message>
    <message id="file.quick_music">
        <source>file.quick_music</source>
        <translation>음악</translation>
    </message>
    <message id="file.quick_pictures">
        <source>file.quick_pictures</source>
        <translation>사진</translation>
    </message>
    <message id="file_access.confirm_message">
        <source>file_access.confirm_message</source>
        <translation>Doorwarden이 데스크톱, 문서, 다운로드, 사진, 음악, 동영상 폴더를 열 수 있는지 확인합니다. 시스템에서 접근 허용을 요청할 수 있습니다.</translation>
    </message>
    <message id="file_access.confirm_title">
        <source>file_access.confirm_title</source>
        <translation>파일 접근을 준비할까요?</translation>
    </message>
    <message id="file_access.description">
        <source>file_access.description</source>
        <translation>상담원이 필요할 때 파일을 찾아보고 주고받을 수 있도록 파일 접근을 미리 준비해 주세요.</translation>
    </message>
    <message id="file_access.full_disk">
        <source>file_access.full_disk</source>
        <translation>전체 디스크 접근</translation>
    </message>
    <message id="file_access.full_disk_help">
        <source>file_access.full_disk_help</source>
        <translation>Doorwarden이 이 컴퓨터의 모든 파일에 접근할 수 있도록 시스템 설정을 엽니다.</translation>
    </message>
    <message id="file_access.limited">
        <source>file_access.limited</source>
        <translation>일부 폴더를 열 수 없어 상담원이 모든 파일을 보지 못할 수 있습니다.</translation>
    </message>
    <message id="file_access.prepare">
        <source>file_access.prepare</source>
        <translation>준비하기</translation>
    </message>
    <message id="file_access.prepared">
        <source>file_access.prepared</source>
        <translation>준비 완료</translation>
    </message>
    <message id="file_access.preparing">
        <source>file_access.preparing</source>
        <translation>준비 중…</translation>
    </message>
    <message id="file_access.ready">
        <source>file_access.ready</source>
        <translation>파일 접근이 준비되었습니다. 지원 중에 상담원이 폴더를 찾아볼 수 있습니다.</translation>
    </message>
    <message id="file_access.title">
        <source>file_access.title</source>
        <translation>파일 접근</translation>
    </message>
    <message id="indicator.accessibility_label">
        <source>indicator.accessibility_label</source>
        <translation>Doorwarden 원격 지원 상태</translation>
    </message>
    <message id="indicator.active">
        <source>indicator.active</source>
        <translation>원격 지원 중</translation>
    </message>
    <message id="indicator.allow_remote_control">
        <source>indicator.allow_remote_control</source>
        <translation>원격 제어</translation>
    </message>
    <message id="indicator.call">
        <source>indicator.call</source>
        <translation>통화 중</translation>
    </message>
    <message id="indicator.call_action">
        <source>indicator.call_action</source>
        <translation>통화 종료</translation>
    </message>
    <message id="indicator.confirm_allow_remote_control">
        <source>indicator.confirm_allow_remote_control</source>
        <translation>상담원이 마우스와 키보드를 제어하도록 허용할까요?</translation>
    </message>
    <message id="indicator.confirm_block_remote_control">
        <source>indicator.confirm_block_remote_control</source>
        <translation>상담원의 마우스와 키보드 제어를 차단할까요? 상담원은 계속 화면을 볼 수 있습니다.</translation>
    </message>
    <message id="indicator.confirm_end">
        <source>indicator.confirm_end</source>
        <translation>원격 지원을 종료할까요? 상담원과의 연결이 끊어집니다.</translation>
    </message>
    <message id="indicator.confirm_stop_recording">
        <source>indicator.confirm_stop_recording</source>
        <translation>이 세션의 녹화를 중지할까요?</translation>
    </message>
    <message id="indicator.end_support">
        <source>indicator.end_support</source>
        <translation>지원 종료</translation>
    </message>
    <message id="indicator.recording">
        <source>indicator.recording</source>
        <translation>녹화 중</translation>
    </message>
    <message id="indicator.recording_action">
        <source>indicator.recording_action</source>
        <translation>녹화 중지</translation>
    </message>
    <message id="indicator.recording_call">
        <source>indicator.recording_call</source>
        <translation>녹화 중 · 통화 중</translation>
    </message>
    <message id="indicator.stop">
        <source>indicator.stop</source>
        <translation>중지</translation>
    </message>
    <message id="indicator.system_audio_active">
        <source>indicator.system_audio_active</source>
        <translation>소리 공유 중</translation>
    </message>
    <message id="install.move_failed_message">
        <source>install.move_failed_message</source>
        <translation>Doorwarden을 응용 프로그램 폴더로 옮기지 못했습니다(%1). 현재 위치에서 계속 실행됩니다.</translation>
    </message>
    <message id="install.move_failed_title">
        <source>install.move_failed_title</source>
        <translation>Doorwarden을 옮기지 못했습니다</translation>
    </message>
    <message id="install.move_prompt_accept">
        <source>install.move_prompt_accept</source>
        <translation>옮기기</translation>
    </message>
    <message id="install.move_prompt_decline">
        <source>install.move_prompt_decline</source>
        <translation>옮기지 않음</translation>
    </message>
    <message id="install.move_prompt_message">
        <source>install.move_prompt_message</source>
        <translation>자동 업데이트를 받으려면 Doorwarden이 응용 프로그램 폴더에 있어야 합니다. 해당 폴더로 복사한 후 다시 시작합니다.</translation>
    </message>
    <message id="install.move_prompt_title">
        <source>install.move_prompt_title</source>
        <translation>Doorwarden을 응용 프로그램 폴더로 옮길까요?</translation>
    </message>
    <message id="language.label">
        <source>language.label</source>
        <translation>언어</translation>
    </message>
    <message id="language.name">
        <source>language.name</source>
        <translation>한국어</translation>
    </message>
    <message id="main.ready_subtitle">
        <source>main.ready_subtitle</source>
        <translation>6자리 지원 코드를 입력하면 상담원과 연결됩니다.</translation>
    </message>
    <message id="main.ready_title">
        <source>main.ready_title</source>
        <translation>원격 지원 받기</translation>
    </message>
    <message id="main.supporting_subtitle">
        <source>main.supporting_subtitle</source>
        <translation>상담원이 화면을 보고 있습니다. 언제든지 지원을 종료할 수 있습니다.</translation>
    </message>
    <message id="main.supporting_title">
        <source>main.supporting_title</source>
        <translation>원격 지원 중</translation>
    </message>
    <message id="main.view_only">
        <source>main.view_only</source>
        <translation>보기 전용</translation>
    </message>
    <message id="main.view_only_help">
        <source>main.view_only_help</source>
        <translation>켜면 상담원이 화면을 볼 수만 있고 마우스와 키보드는 사용할 수 없습니다.</translation>
    </message>
    <message id="permissions.accessibility">
        <source>permissions.accessibility</source>
        <translation>키보드·마우스 제어 허용</translation>
    </message>
    <message id="permissions.required">
        <source>permissions.required</source>
        <translation>연결하려면 다음 권한을 허용해 주세요.</translation>
    </message>
    <message id="permissions.screen_recording">
        <source>permissions.screen_recording</source>
        <translation>화면 녹화 허용</translation>
    </message>
    <message id="recording.allow">
        <source>recording.allow</source>
        <translation>허용</translation>
    </message>
    <message id="recording.consent_message">
        <source>recording.consent_message</source>
        <translation>상담원이 이 지원 세션을 녹화하려고 합니다. 녹화에는 화면에 표시되는 내용이 포함됩니다.</translation>
    </message>
    <message id="recording.consent_title">
        <source>recording.consent_title</source>
        <translation>세션 녹화를 허용할까요?</translation>
    </message>
    <message id="recording.deny">
        <source>recording.deny</source>
        <translation>허용 안 함</translation>
    </message>
    <message id="recovery.login_item_notice">
        <source>recovery.login_item_notice</source>
        <translation>로그인할 때 Doorwarden이 자동으로 실행되도록 설정하지 못해, 컴퓨터를 다시 시작하면 지원 세션이 자동으로 이어지지 않습니다. 시스템 설정에서 허용해 주세요.</translation>
    </message>
    <message id="report.description">
        <source>report.description</source>
        <translation>어떤 일이 있었는지 간단히 적어 주세요. 원인을 찾는 데 도움이 되도록 Doorwarden의 진단 기록이 함께 전송됩니다.</translation>
    </message>
    <message id="report.question">
        <source>report.question</source>
        <translation>어떤 문제가 있었나요?</translation>
    </message>
    <message id="report.submit">
        <source>report.submit</source>
        <translation>보내기</translation>
    </message>
    <message id="report.title">
        <source>report.title</source>
        <translation>문제 신고</translation>
    </message>
    <message id="security.verification_code">
        <source>security.verification_code</source>
        <translation>확인 코드</translation>
    </message>
    <message id="settings.call_consent">
        <source>settings.call_consent</source>
        <translation>음성 통화를 받기 전에 확인하기</translation>
    </message>
    <message id="settings.recording_consent">
        <source>settings.recording_consent</source>
        <translation>세션을 녹화하기 전에 확인하기</translation>
    </message>
    <message id="status.closing_countdown">
        <source>status.closing_countdown</source>
        <translation>%1초 후에 닫힙니다.</translation>
    </message>
    <message id="status.connecting_code">
        <source>status.connecting_code</source>
        <translation>지원 코드로 연결하는 중…</translation>
    </message>
    <message id="status.connection_failed">
        <source>status.connection_failed</source>
        <translation>연결하지 못했습니다. 인터넷 연결을 확인한 후 다시 시도해 주세요.</translation>
    </message>
    <message id="status.encryption_ready">
        <source>status.encryption_ready</source>
        <translation>보안 연결이 완료되었습니다.</translation>
    </message>
    <message id="status.encryption_ready_code">
        <source>status.encryption_ready_code</source>
        <translation>보안 연결이 완료되었습니다. 확인 코드: %1. 상담원에게 표시된 코드와 같은지 확인해 주세요.</translation>
    </message>
    <message id="status.ended">
        <source>status.ended</source>
        <translation>원격 지원이 종료되었습니다.</translation>
    </message>
    <message id="status.ended_detail">
        <source>status.ended_detail</source>
        <translation>원격 지원이 종료되었습니다. 다시 지원을 받으려면 새 지원 코드를 입력해 주세요.</translation>
    </message>
    <message id="status.ending">
        <source>status.ending</source>
        <translation>지원을 종료하는 중…</translation>
    </message>
    <message id="status.enter_code">
        <source>status.enter_code</source>
        <translation>6자리 지원 코드를 모두 입력해 주세요.</translation>
    </message>
    <message id="status.file_received">
        <source>status.file_received</source>
        <translation>‘%1’ 파일을 받았습니다. 다운로드 폴더에 저장되었습니다.</translation>
    </message>
    <message id="status.permissions_ready">
        <source>status.permissions_ready</source>
        <translation>연결할 준비가 되었습니다. 지원 코드를 입력해 주세요.</translation>
    </message>
    <message id="status.permissions_required">
        <source>status.permissions_required</source>
        <translation>시작하려면 아래 권한을 허용해 주세요.</translation>
    </message>
    <message id="status.ready">
        <source>status.ready</source>
        <translation>시작하려면 지원 코드를 입력해 주세요.</translation>
    </message>
    <message id="status.reconnecting_previous">
        <source>status.reconnecting_previous</source>
        <translation>이전 지원 세션에 다시 연결하는 중…</translation>
    </message>
    <message id="status.recovering">
        <source>status.recovering</source>
        <translation>연결이 끊어졌습니다. 다시 연결하는 중…</translation>
    </message>
    <message id="status.recovery_expired">
        <source>status.recovery_expired</source>
        <translation>이전 지원 세션이 만료되었습니다. 상담원에게 새 코드를 요청해 주세요.</translation>
    </message>
    <message id="status.relay_failed">
        <source>status.relay_failed</source>
        <translation>서버와의 연결이 끊어졌습니다. 다시 시도해 주세요.</translation>
    </message>
    <message id="status.removing_countdown">
        <source>status.removing_countdown</source>
        <translation>%1초 후에 Doorwarden이 제거됩니다.</translation>
    </message>
    <message id="status.report_prepare_failed">
        <source>status.report_prepare_failed</source>
        <translation>오류 보고를 준비하지 못했습니다. 다시 시도해 주세요.</translation>
    </message>
    <message id="status.report_saved">
        <source>status.report_saved</source>
        <translation>오류 보고를 저장했습니다. 다음에 연결되면 자동으로 전송됩니다.</translation>
    </message>
    <message id="status.report_sending">
        <source>status.report_sending</source>
        <translation>오류 보고를 보내는 중…</translation>
    </message>
    <message id="status.tell_code">
        <source>status.tell_code</source>
        <translation>위의 지원 코드를 상담원에게 알려 주시고 연결될 때까지 기다려 주세요.</translation>
    </message>
    <message id="status.viewer_connected">
        <source>status.viewer_connected</source>
        <translation>상담원이 연결되었습니다.</translation>
    </message>
    <message id="status.viewer_connected_preparing">
        <source>status.viewer_connected_preparing</source>
        <translation>상담원이 연결되었습니다. 화면 공유를 준비하는 중…</translation>
    </message>
    <message id="status.viewer_preparing">
        <source>status.viewer_preparing</source>
        <translation>상담원이 접속하고 있습니다…</translation>
    </message>
    <message id="update.cancel">
        <source>update.cancel</source>
        <translation>취소</translation>
    </message>
    <message id="update.cancelling">
        <source>update.cancelling</source>
        <translation>취소하는 중…</translation>
    </message>
    <message id="update.checking_size">
        <source>update.checking_size</source>
        <translation>다운로드 크기를 확인하는 중…</translation>
    </message>
    <message id="update.confirmation_description">
        <source>update.confirmation_description</source>
        <translation>새 버전의 Doorwarden을 사용할 수 있습니다. 잠시 후 자동으로 설치되며 Doorwarden이 다시 시작됩니다.</translation>
    </message>
    <message id="update.confirmation_title">
        <source>update.confirmation_title</source>
        <translation>새 업데이트가 있습니다</translation>
    </message>
    <message id="update.countdown_button">
        <source>update.countdown_button</source>
        <translation>지금 설치 (%1)</translation>
    </message>
    <message id="update.downloading">
        <source>update.downloading</source>
        <translation>업데이트를 다운로드하는 중…</translation>
    </message>
    <message id="update.extracting">
        <source>update.extracting</source>
        <translation>업데이트 압축을 푸는 중…</translation>
    </message>
    <message id="update.failed">
        <source>update.failed</source>
        <translation>업데이트를 설치하지 못했습니다. 나중에 다시 시도해 주세요.</translation>
    </message>
    <message id="update.installing">
        <source>update.installing</source>
        <translation>업데이트를 설치하는 중…</translation>
    </message>
    <message id="update.later">
        <source>update.later</source>
        <translation>나중에</translation>
    </message>
    <message id="update.ok">
        <source>update.ok</source>
        <translation>확인</translation>
    </message>
    <message id="update.preparing">
        <source>update.preparing</source>
        <translation>준비 중…</translation>
    </message>
    <message id="update.restarting">
        <source>update.restarting</source>
        <translation>Doorwarden을 다시 시작하는 중…</translation>
    </message>
    <message id="update.title">
        <source>update.title</source>
        <translation>Doorwarden 업데이트</translation>
    </message>
    <message id="Call_Title">
        <source>Call_Title</source>
        <translation>음성 통화</translation>
    </message>
    <message id="Call_Incoming">
        <source>Call_Incoming</source>
        <translation>상담원이 음성 통화를 요청했습니다.</translation>
    </message>
    <message id="Call_Waiting">
        <source>Call_Waiting</source>
        <translation>응답을 기다리는 중…</translation>
    </message>
    <message id="Call_Starting">
        <source>Call_Starting</source>
        <translation>통화를 연결하는 중…</translation>
    </message>
    <message id="Call_Active">
        <source>Call_Active</source>
        <translation>상담원과 통화 중</translation>
    </message>
    <message id="Call_Muted">
        <source>Call_Muted</source>
        <translation>마이크가 음소거되었습니다.</translation>
    </message>
    <message id="Call_Accept">
        <source>Call_Accept</source>
        <translation>받기</translation>
    </message>
    <message id="Call_Decline">
        <source>Call_Decline</source>
        <translation>거절</translation>
    </message>
    <message id="Call_Mute">
        <source>Call_Mute</source>
        <translation>음소거</translation>
    </message>
    <message id="Call_Unmute">
        <source>Call_Unmute</source>
        <translation>음소거 해제</translation>
    </message>
    <message id="Call_End">
        <source>Call_End</source>
        <translation>통화 종료</translation>
    </message>
    <message id="Call_Cancel">
        <source>Call_Cancel</source>
        <translation>취소</translation>
    </message>
    <message id="Call_ConfirmEnd">
        <source>Call_ConfirmEnd</source>
        <translation>통화를 종료할까요?</translation>
    </message>
    <message id="Call_Continue">
        <source>Call_Continue</source>
        <translation>계속 통화</translation>
    </message>
    <message id="Call_Ended">
        <source>Call_Ended</source>
        <translation>통화가 종료되었습니다.</translation>
    </message>
    <message id="Call_Declined">
        <source>Call_Declined</source>
        <translation>통화가 거절되었습니다.</translation>
    </message>
    <message id="Call_Busy">
        <source>Call_Busy</source>
        <translation>상담원이 지금 통화할 수 없습니다.</translation>
    </message>
    <message id="Call_Timeout">
        <source>Call_Timeout</source>
        <translation>통화 연결 시간이 초과되었습니다.</translation>
    </message>
    <message id="Call_ConnectionLost">
        <source>Call_ConnectionLost</source>
        <translation>연결이 끊어져 통화가 종료되었습니다.</translation>
    </message>
    <message id="Call_AudioError">
        <source>Call_AudioError</source>
        <translation>마이크 또는 스피커 문제로 통화가 종료되었습니다.</translation>
    </message>
    <message id="Call_PeerAudioError">
        <source>Call_PeerAudioError</source>
        <translation>상담원 쪽의 오디오 문제로 통화가 종료되었습니다.</translation>
    </message>
    <message id="approval.title">
        <source>approval.title</source>
        <translation>상담원이 연결을 요청합니다</translation>
    </message>
    <message id="approval.message">
        <source>approval.message</source>
        <translation>%1 님이 이 지원 세션에 참여하려고 합니다. 허용하면 화면을 보고 마우스와 키보드를 사용할 수 있습니다.</translation>
    </message>
    <message id="approval.message_view_only">
        <source>approval.message_view_only</source>
        <translation>%1 님이 이 지원 세션에 참여하려고 합니다. 허용하면 화면을 볼 수 있습니다. 보기 전용이 켜져 있어 마우스와 키보드는 사용할 수 없습니다.</translation>
    </message>
    <message id="approval.deny">
        <source>approval.deny</source>
        <translation>거부</translation>
    </message>
    <message id="permissions.screen_recording_x11">
        <source>permissions.screen_recording_x11</source>
        <translation>Doorwarden은 실행 중인 X11 데스크톱의 화면을 공유합니다. 원격 셸이나 Wayland 전용 세션이 아닌 데스크톱 세션에서 실행해 주세요.</translation>
    </message>
    <message id="permissions.accessibility_x11">
        <source>permissions.accessibility_x11</source>
        <translation>상담원이 마우스와 키보드를 사용하려면 X 서버에 XTEST 확장 기능이 있어야 합니다. 관리자에게 켜 달라고 요청하거나 보기 전용을 선택해 주세요.</translation>
    </message>
</context>
</TS>
