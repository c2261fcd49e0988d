<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name></name>
    <message id="action.allow">
        <source>action.allow</source>
        <translation>Allow</translation>
    </message>
    <message id="action.block">
        <source>action.block</source>
        <translation>Block</translation>
    </message>
    <message id="action.cancel">
        <source>action.cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="action.cancel_connection">
        <source>action.cancel_connection</source>
        <translation>Cancel Connection</translation>
    </message>
    <message id="action.connect">
        <source>action.connect</source>
        <translation>Connect</translation>
    </message>
    <message id="action.connecting">
        <source>action.connecting</source>
        <translation>Connecting…</translation>
    </message>
    <message id="action.continue">
        <source>action.continue</source>
        <translation>Continue</translation>
    </message>
    <message id="action.end">
        <source>action.end</source>
        <translation>End</translation>
    </message>
    <message id="action.end_support">
        <source>action.end_support</source>
        <translation>End Support</translation>
    </message>
    <message id="action.ending">
        <source>action.ending</source>
        <translation>Ending…</translation>
    </message>
    <message id="action.ok">
        <source>action.ok</source>
        <translation>OK</translation>
    </message>
    <message id="action.open_settings">
        <source>action.open_settings</source>
        <translation>Open Settings</translation>
    </message>
    <message id="action.sending">
        <source>action.sending</source>
        <translation>Sending…</translation>
    </message>
    <message id="chat.button">
        <source>chat.button</source>
        <translation>Chat</translation>
    </message>
    <message id="chat.placeholder">
        <source>chat.placeholder</source>
        <translation>Type a message</translation>
    </message>
    <message id="chat.read">
        <source>chat.read</source>
        <translation>Read</translation>
    </message>
    <message id="chat.requires_connection">
        <source>chat.requires_connection</source>
        <translation>Chat is available once your support agent is connected.</translation>
    </message>
    <message id="chat.send">
        <source>chat.send</source>
        <translation>Send</translation>
    </message>
    <message id="chat.support_agent">
        <source>chat.support_agent</source>
        <translation>Support Agent</translation>
    </message>
    <message id="chat.unread">
        <source>chat.unread</source>
        <translation>Unread</translation>
    </message>
    <message id="chat.unread_count">
        <source>chat.unread_count</source>
        <translation>Unread messages</translation>
    </message>
    <message id="chat.window_title">
        <source>chat.window_title</source>
        <translation>Support Chat</translation>
    </message>
    <message id="chat.with_agent">
        <source>chat.with_agent</source>
        <translation>Chat with Your Support Agent</translation>
    </message>
    <message id="client.removal.failed_message">
        <source>client.removal.failed_message</source>
        <translation>Please remove Doorwarden from this computer manually. Doorwarden will now quit.</translation>
    </message>
    <message id="client.removal.failed_title">
        <source>client.removal.failed_title</source>
        <translation>Couldn't Remove Doorwarden</translation>
    </message>
    <message id="client.removal.not_ready">
        <source>client.removal.not_ready</source>
        <translation>Doorwarden can't remove itself from this computer automatically.</translation>
    </message>
    <message id="client.removal.ready">
        <source>client.removal.ready</source>
        <translation>Doorwarden will be removed from this computer when the session ends.</translation>
    </message>
    <message id="common.please_wait">
        <source>common.please_wait</source>
        <translation>Please wait…</translation>
    </message>
    <message id="drawing.active_button">
        <source>drawing.active_button</source>
        <translation>Stop Drawing</translation>
    </message>
    <message id="drawing.arrow">
        <source>drawing.arrow</source>
        <translation>Arrow</translation>
    </message>
    <message id="drawing.button">
        <source>drawing.button</source>
        <translation>Draw</translation>
    </message>
    <message id="drawing.clear_all">
        <source>drawing.clear_all</source>
        <translation>Clear All</translation>
    </message>
    <message id="drawing.clear_mine">
        <source>drawing.clear_mine</source>
        <translation>Clear My Drawings</translation>
    </message>
    <message id="drawing.close">
        <source>drawing.close</source>
        <translation>Close Drawing</translation>
    </message>
    <message id="drawing.customer">
        <source>drawing.customer</source>
        <translation>Customer</translation>
    </message>
    <message id="drawing.medium">
        <source>drawing.medium</source>
        <translation>Medium</translation>
    </message>
    <message id="drawing.participant">
        <source>drawing.participant</source>
        <translation>Participant</translation>
    </message>
    <message id="drawing.pen">
        <source>drawing.pen</source>
        <translation>Pen</translation>
    </message>
    <message id="drawing.rectangle">
        <source>drawing.rectangle</source>
        <translation>Rectangle</translation>
    </message>
    <message id="drawing.status_active">
        <source>drawing.status_active</source>
        <translation>Drawing mode is on. Drag on the screen to draw.</translation>
    </message>
    <message id="drawing.status_author">
        <source>drawing.status_author</source>
        <translation>%1 is drawing on your screen.</translation>
    </message>
    <message id="drawing.thick">
        <source>drawing.thick</source>
        <translation>Thick</translation>
    </message>
    <message id="drawing.thin">
        <source>drawing.thin</source>
        <translation>Thin</translation>
    </message>
    <message id="drawing.undo">
        <source>drawing.undo</source>
        <translation>Undo</translation>
    </message>
    <message id="drawing.viewer">
        <source>drawing.viewer</source>
        <translation>Support agent</translation>
    </message>
    <message id="ending.ended_title">
        <source>ending.ended_title</source>
        <translation>Support Has Ended</translation>
    </message>
    <message id="ending.permission_notice">
        <source>ending.permission_notice</source>
        <translation>Any permissions you gave Doorwarden can be turned off in your system settings.</translation>
    </message>
    <message id="ending.reconnect">
        <source>ending.reconnect</source>
        <translation>Connect Again</translation>
    </message>
    <message id="ending.reconnect_hint">
        <source>ending.reconnect_hint</source>
        <translation>To get help again, click Connect Again before this window closes.</translation>
    </message>
    <message id="ending.removing_title">
        <source>ending.removing_title</source>
        <translation>Removing Doorwarden</translation>
    </message>
    <message id="error.invalid_relay_address">
        <source>error.invalid_relay_address</source>
        <translation>The server address is invalid. Please contact your support provider.</translation>
    </message>
    <message id="error.report.accepted">
        <source>error.report.accepted</source>
        <translation>Your error report has been received. Thank you!</translation>
    </message>
    <message id="error.report.accepted_with_id">
        <source>error.report.accepted_with_id</source>
        <translation>Your error report has been received. Report ID: %1</translation>
    </message>
    <message id="exit.confirm_message">
        <source>exit.confirm_message</source>
        <translation>A support session is in progress. Quitting will end the session with your support agent.</translation>
    </message>
    <message id="exit.confirm_title">
        <source>exit.confirm_title</source>
        <translation>End Support and Quit?</translation>
    </message>
    <message id="file.quick_desktop">
        <source>file.quick_desktop</source>
        <translation>Desktop</translation>
    </message>
    <message id="file.quick_documents">
        <source>file.quick_documents</source>
        <translation>Documents</translation>
    </message>
    <message id="file.quick_downloads">
        <source>file.quick_downloads</source>
        <translation>Downloads</translation>
    </message>
    <message id="file.quick_movies">
        <source>file.quick_movies</source>
        <translation>Videos</translation>
    </message>
    <message id="file.quick_music">
        <source>file.quick_music</source>
        <translation>Music</translation>
    </message>
    <message id="file.quick_pictures">
        <source>file.quick_pictures</source>
        <translation>Pictures</translation>
    </message>
    <message id="file_access.confirm_message">
        <source>file_access.confirm_message</source>
        <translation>Doorwarden will check that it can open your Desktop, Documents, Downloads, Pictures, Music and Videos folders. Your system may ask you to allow access.</translation>
    </message>
    <message id="file_access.confirm_title">
        <source>file_access.confirm_title</source>
        <translation>Prepare File Access?</translation>
    </message>
    <message id="file_access.description">
        <source>file_access.description</source>
        <translation>Prepare file access in advance so your support agent can browse and exchange files when needed.</translation>
    </message>
    <message id="file_access.full_disk">
        <source>file_access.full_disk</source>
        <translation>Full Disk Access</translation>
    </message>
    <message id="file_access.full_disk_help">
        <source>file_access.full_disk_help</source>
        <translation>Opens the system settings where you can let Doorwarden access all files on this computer.</translation>
    </message>
    <message id="file_access.limited">
        <source>file_access.limited</source>
        <translation>Some folders couldn't be opened, so your support agent may not see all of your files.</translation>
    </message>
    <message id="file_access.prepare">
        <source>file_access.prepare</source>
        <translation>Prepare</translation>
    </message>
    <message id="file_access.prepared">
        <source>file_access.prepared</source>
        <translation>Prepared</translation>
    </message>
    <message id="file_access.preparing">
        <source>file_access.preparing</source>
        <translation>Preparing…</translation>
    </message>
    <message id="file_access.ready">
        <source>file_access.ready</source>
        <translation>File access is ready. Your support agent can browse your folders during support.</translation>
    </message>
    <message id="file_access.title">
        <source>file_access.title</source>
        <translation>File Access</translation>
    </message>
    <message id="indicator.accessibility_label">
        <source>indicator.accessibility_label</source>
        <translation>Doorwarden remote support status</translation>
    </message>
    <message id="indicator.active">
        <source>indicator.active</source>
        <translation>Support in progress</translation>
    </message>
    <message id="indicator.allow_remote_control">
        <source>indicator.allow_remote_control</source>
        <translation>Remote Control</translation>
    </message>
    <message id="indicator.call">
        <source>indicator.call</source>
        <translation>On a call</translation>
    </message>
    <message id="indicator.call_action">
        <source>indicator.call_action</source>
        <translation>End Call</translation>
    </message>
    <message id="indicator.confirm_allow_remote_control">
        <source>indicator.confirm_allow_remote_control</source>
        <translation>Allow your support agent to control your mouse and keyboard?</translation>
    </message>
    <message id="indicator.confirm_block_remote_control">
        <source>indicator.confirm_block_remote_control</source>
        <translation>Stop your support agent from controlling your mouse and keyboard? They'll still be able to see your screen.</translation>
    </message>
    <message id="indicator.confirm_end">
        <source>indicator.confirm_end</source>
        <translation>End this support session? Your support agent will be disconnected.</translation>
    </message>
    <message id="indicator.confirm_stop_recording">
        <source>indicator.confirm_stop_recording</source>
        <translation>Stop recording this session?</translation>
    </message>
    <message id="indicator.end_support">
        <source>indicator.end_support</source>
        <translation>End Support</translation>
    </message>
    <message id="indicator.recording">
        <source>indicator.recording</source>
        <translation>Recording</translation>
    </message>
    <message id="indicator.recording_action">
        <source>indicator.recording_action</source>
        <translation>Stop Recording</translation>
    </message>
    <message id="indicator.recording_call">
        <source>indicator.recording_call</source>
        <translation>Recording · On a call</translation>
    </message>
    <message id="indicator.stop">
        <source>indicator.stop</source>
        <translation>Stop</translation>
    </message>
    <message id="indicator.system_audio_active">
        <source>indicator.system_audio_active</source>
        <translation>Sharing sound</translation>
    </message>
    <message id="install.move_failed_message">
        <source>install.move_failed_message</source>
        <translation>Doorwarden couldn't be moved to the applications folder (%1). It will keep running from its current location.</translation>
    </message>
    <message id="install.move_failed_title">
        <source>install.move_failed_title</source>
        <translation>Couldn't Move Doorwarden</translation>
    </message>
    <message id="install.move_prompt_accept">
        <source>install.move_prompt_accept</source>
        <translation>Move</translation>
    </message>
    <message id="install.move_prompt_decline">
        <source>install.move_prompt_decline</source>
        <translation>Don't Move</translation>
    </message>
    <message id="install.move_prompt_message">
        <source>install.move_prompt_message</source>
        <translation>To receive automatic updates, Doorwarden needs to be in the applications folder. It will be copied there and restarted.</translation>
    </message>
    <message id="install.move_prompt_title">
        <source>install.move_prompt_title</source>
        <translation>Move Doorwarden to the applications folder?</translation>
    </message>
    <message id="language.label">
        <source>language.label</source>
        <translation>Language</translation>
    </message>
    <message id="language.name">
        <source>language.name</source>
        <translation>English</translation>
    </message>
    <message id="main.ready_subtitle">
        <source>main.ready_subtitle</source>
        <translation>Enter the six-digit support code to connect with your support agent.</translation>
    </message>
    <message id="main.ready_title">
        <source>main.ready_title</source>
        <translation>Get Remote Support</translation>
    </message>
    <message id="main.supporting_subtitle">
        <source>main.supporting_subtitle</source>
        <translation>Your support agent can see your screen. You can end support at any time.</translation>
    </message>
    <message id="main.supporting_title">
        <source>main.supporting_title</source>
        <translation>Support in Progress</translation>
    </message>
    <message id="main.view_only">
        <source>main.view_only</source>
        <translation>View Only</translation>
    </message>
    <message id="main.view_only_help">
        <source>main.view_only_help</source>
        <translation>When on, your support agent can see your screen but can't use your mouse or keyboard.</translation>
    </message>
    <message id="permissions.accessibility">
        <source>permissions.accessibility</source>
        <translation>Allow Keyboard and Mouse Control</translation>
    </message>
    <message id="permissions.required">
        <source>permissions.required</source>
        <translation>Doorwarden needs the following permissions before it can connect.</translation>
    </message>
    <message id="permissions.screen_recording">
        <source>permissions.screen_recording</source>
        <translation>Allow Screen Recording</translation>
    </message>
    <message id="recording.allow">
        <source>recording.allow</source>
        <translation>Allow</translation>
    </message>
    <message id="recording.consent_message">
        <source>recording.consent_message</source>
        <translation>Your support agent would like to record this session. The recording will include what's on your screen.</translation>
    </message>
    <message id="recording.consent_title">
        <source>recording.consent_title</source>
        <translation>Allow Session Recording?</translation>
    </message>
    <message id="recording.deny">
        <source>recording.deny</source>
        <translation>Don't Allow</translation>
    </message>
    <message id="recovery.login_item_notice">
        <source>recovery.login_item_notice</source>
        <translation>Doorwarden couldn't set itself to start when you log in, so your session can't resume automatically after a restart. You can allow this in your system settings.</translation>
    </message>
    <message id="report.description">
        <source>report.description</source>
        <translation>Briefly describe what happened. Doorwarden's diagnostic log will be included to help find the cause.</translation>
    </message>
    <message id="report.question">
        <source>report.question</source>
        <translation>What went wrong?</translation>
    </message>
    <message id="report.submit">
        <source>report.submit</source>
        <translation>Send Report</translation>
    </message>
    <message id="report.title">
        <source>report.title</source>
        <translation>Report a Problem</translation>
    </message>
    <message id="security.verification_code">
        <source>security.verification_code</source>
        <translation>Verification Code</translation>
    </message>
    <message id="settings.call_consent">
        <source>settings.call_consent</source>
        <translation>Ask me before answering voice calls</translation>
    </message>
    <message id="settings.recording_consent">
        <source>settings.recording_consent</source>
        <translation>Ask me before the session is recorded</translation>
    </message>
    <message id="status.closing_countdown">
        <source>status.closing_countdown</source>
        <translation>Closing in %1 seconds.</translation>
    </message>
    <message id="status.connecting_code">
        <source>status.connecting_code</source>
        <translation>Connecting with your support code…</translation>
    </message>
    <message id="status.connection_failed">
        <source>status.connection_failed</source>
        <translation>Couldn't connect. Check your internet connection and try again.</translation>
    </message>
    <message id="status.encryption_ready">
        <source>status.encryption_ready</source>
        <translation>Secure connection established.</translation>
    </message>
    <message id="status.encryption_ready_code">
        <source>status.encryption_ready_code</source>
        <translation>Secure connection established. Verification code: %1. Make sure it matches the code your support agent sees.</translation>
    </message>
    <message id="status.ended">
        <source>status.ended</source>
        <translation>The support session has ended.</translation>
    </message>
    <message id="status.ended_detail">
        <source>status.ended_detail</source>
        <translation>The support session has ended. To get help again, enter a new support code.</translation>
    </message>
    <message id="status.ending">
        <source>status.ending</source>
        <translation>Ending support…</translation>
    </message>
    <message id="status.enter_code">
        <source>status.enter_code</source>
        <translation>Please enter all six digits of the support code.</translation>
    </message>
    <message id="status.file_received">
        <source>status.file_received</source>
        <translation>Received “%1”. It has been saved to your Downloads folder.</translation>
    </message>
    <message id="status.permissions_ready">
        <source>status.permissions_ready</source>
        <translation>Ready to connect. Enter your support code.</translation>
    </message>
    <message id="status.permissions_required">
        <source>status.permissions_required</source>
        <translation>Please allow the permissions below to get started.</translation>
    </message>
    <message id="status.ready">
        <source>status.ready</source>
        <translation>Enter your support code to get started.</translation>
    </message>
    <message id="status.reconnecting_previous">
        <source>status.reconnecting_previous</source>
        <translation>Reconnecting to your previous support session…</translation>
    </message>
    <message id="status.recovering">
        <source>status.recovering</source>
        <translation>The connection was interrupted. Reconnecting…</translation>
    </message>
    <message id="status.recovery_expired">
        <source>status.recovery_expired</source>
        <translation>Your previous session has expired. Please ask your support agent for a new code.</translation>
    </message>
    <message id="status.relay_failed">
        <source>status.relay_failed</source>
        <translation>The connection to the server was lost. Please try again.</translation>
    </message>
    <message id="status.removing_countdown">
        <source>status.removing_countdown</source>
        <translation>Doorwarden will be removed in %1 seconds.</translation>
    </message>
    <message id="status.report_prepare_failed">
        <source>status.report_prepare_failed</source>
        <translation>Couldn't prepare your error report. Please try again.</translation>
    </message>
    <message id="status.report_saved">
        <source>status.report_saved</source>
        <translation>Your error report has been saved and will be sent the next time you connect.</translation>
    </message>
    <message id="status.report_sending">
        <source>status.report_sending</source>
        <translation>Sending your error report…</translation>
    </message>
    <message id="status.tell_code">
        <source>status.tell_code</source>
        <translation>Tell your support agent the code above and wait for them to connect.</translation>
    </message>
    <message id="status.viewer_connected">
        <source>status.viewer_connected</source>
        <translation>Your support agent is connected.</translation>
    </message>
    <message id="status.viewer_connected_preparing">
        <source>status.viewer_connected_preparing</source>
        <translation>Your support agent is connected. Preparing screen sharing…</translation>
    </message>
    <message id="status.viewer_preparing">
        <source>status.viewer_preparing</source>
        <translation>Your support agent is joining…</translation>
    </message>
    <message id="update.cancel">
        <source>update.cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="update.cancelling">
        <source>update.cancelling</source>
        <translation>Cancelling…</translation>
    </message>
    <message id="update.checking_size">
        <source>update.checking_size</source>
        <translation>Checking download size…</translation>
    </message>
    <message id="update.confirmation_description">
        <source>update.confirmation_description</source>
        <translation>A new version of Doorwarden is available. It will be installed automatically in a few seconds, and Doorwarden will restart.</translation>
    </message>
    <message id="update.confirmation_title">
        <source>update.confirmation_title</source>
        <translation>Update Available</translation>
    </message>
    <message id="update.countdown_button">
        <source>update.countdown_button</source>
        <translation>Install Now (%1)</translation>
    </message>
    <message id="update.downloading">
        <source>update.downloading</source>
        <translation>Downloading update…</translation>
    </message>
    <message id="update.extracting">
        <source>update.extracting</source>
        <translation>Extracting update…</translation>
    </message>
    <message id="update.failed">
        <source>update.failed</source>
        <translation>The update couldn't be installed. Please try again later.</translation>
    </message>
    <message id="update.installing">
        <source>update.installing</source>
        <translation>Installing update…</translation>
    </message>
    <message id="update.later">
        <source>update.later</source>
        <translation>Later</translation>
    </message>
    <message id="update.ok">
        <source>update.ok</source>
        <translation>OK</translation>
    </message>
    <message id="update.preparing">
        <source>update.preparing</source>
        <translation>Preparing…</translation>
    </message>
    <message id="update.restarting">
        <source>update.restarting</source>
        <translation>Restarting Doorwarden…</translation>
    </message>
    <message id="update.title">
        <source>update.title</source>
        <translation>Doorwarden Update</translation>
    </message>
    <message id="Call_Title">
        <source>Call_Title</source>
        <translation>Voice Call</translation>
    </message>
    <message id="Call_Incoming">
        <source>Call_Incoming</source>
        <translation>Your support agent is calling you.</translation>
    </message>
    <message id="Call_Waiting">
        <source>Call_Waiting</source>
        <translation>Waiting for an answer…</translation>
    </message>
    <message id="Call_Starting">
        <source>Call_Starting</source>
        <translation>Connecting the call…</translation>
    </message>
    <message id="Call_Active">
        <source>Call_Active</source>
        <translation>On a call with your support agent</translation>
    </message>
    <message id="Call_Muted">
        <source>Call_Muted</source>
        <translation>Your microphone is muted.</translation>
    </message>
    <message id="Call_Accept">
        <source>Call_Accept</source>
        <translation>Accept</translation>
    </message>
    <message id="Call_Decline">
        <source>Call_Decline</source>
        <translation>Decline</translation>
    </message>
    <message id="Call_Mute">
        <source>Call_Mute</source>
        <translation>Mute</translation>
    </message>
    <message id="Call_Unmute">
        <source>Call_Unmute</source>
        <translation>Unmute</translation>
    </message>
    <message id="Call_End">
        <source>Call_End</source>
        <translation>End Call</translation>
    </message>
    <message id="Call_Cancel">
        <source>Call_Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="Call_ConfirmEnd">
        <source>Call_ConfirmEnd</source>
        <translation>End this call?</translation>
    </message>
    <message id="Call_Continue">
        <source>Call_Continue</source>
        <translation>Continue Call</translation>
    </message>
    <message id="Call_Ended">
        <source>Call_Ended</source>
        <translation>The call has ended.</translation>
    </message>
    <message id="Call_Declined">
        <source>Call_Declined</source>
        <translation>The call was declined.</translation>
    </message>
    <message id="Call_Busy">
        <source>Call_Busy</source>
        <translation>Your support agent is busy right now.</translation>
    </message>
    <message id="Call_Timeout">
        <source>Call_Timeout</source>
        <translation>The call couldn't be connected in time.</translation>
    </message>
    <message id="Call_ConnectionLost">
        <source>Call_ConnectionLost</source>
        <translation>The call ended because the connection was lost.</translation>
    </message>
    <message id="Call_AudioError">
        <source>Call_AudioError</source>
        <translation>The call ended because of a problem with your microphone or speakers.</translation>
    </message>
    <message id="Call_PeerAudioError">
        <source>Call_PeerAudioError</source>
        <translation>The call ended because of an audio problem on your support agent's side.</translation>
    </message>
    <message id="approval.title">
        <source>approval.title</source>
        <translation>A support agent wants to join</translation>
    </message>
    <message id="approval.message">
        <source>approval.message</source>
        <translation>%1 asks to join this support session. Once allowed, they will see your screen and can use your mouse and keyboard.</translation>
    </message>
    <message id="approval.message_view_only">
        <source>approval.message_view_only</source>
        <translation>%1 asks to join this support session. Once allowed, they will see your screen. View only is on: they cannot use your mouse or keyboard.</translation>
    </message>
    <message id="approval.deny">
        <source>approval.deny</source>
        <translation>Deny</translation>
    </message>
    <message id="permissions.screen_recording_x11">
        <source>permissions.screen_recording_x11</source>
        <translation>Doorwarden shares the screen of the X11 desktop it runs on. Start it from your desktop session, not from a remote shell or a Wayland-only session.</translation>
    </message>
    <message id="permissions.accessibility_x11">
        <source>permissions.accessibility_x11</source>
        <translation>Your support agent can use the mouse and keyboard only when the X server offers the XTEST extension. Ask your administrator to turn it on, or choose view only.</translation>
    </message>
</context>
</TS>
