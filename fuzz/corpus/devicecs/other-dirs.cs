moduledirectory = \Windows\
FILESPACEROOT=\fs\sub
Unknown=1
no equals sign
