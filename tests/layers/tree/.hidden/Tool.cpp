// A hidden folder.
