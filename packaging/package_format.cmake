# Read by cpack for each format it makes, before it installs the files:
# tells the install (in the same process) which format that is, so that
# each package's documents go where its format expects them.
set(ENV{PULSEWARDEN_PACKAGE_FORMAT} "${CPACK_GENERATOR}")
