// Generated in a build folder.
