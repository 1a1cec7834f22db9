# The deliverables the install cabinet carries into \Windows: one line each, the target
# that builds it and its files in the device image. A deliverable that comes later adds
# its line here (the driver: hotfix_deliverable(Ostrel Ostrel.dll); a module:
# hotfix_deliverable(Bayrox Bayrox.dll Bayrox.mif)).
hotfix_deliverable(Plindor   Plindor.dll)
hotfix_deliverable(Corvane   Corvane.dll   Corvane.mif)
hotfix_deliverable(Calbrook  Calbrook.dll  Calbrook.mif)
hotfix_deliverable(Senvar    Senvar.dll    Senvar.mif)
hotfix_deliverable(Bayrox    Bayrox.dll    Bayrox.mif)
hotfix_deliverable(Ostrel Ostrel.dll)
