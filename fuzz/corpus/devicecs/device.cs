# device.cs: the framework host's start-up script. Format: one "Key=Value" per line,
# keys without regard to case, values are device paths; lines starting with '#' and
# blank lines are ignored; whitespace around keys and values is dropped.
ModuleDirectory=\Windows
FileSpaceRoot=\fs
