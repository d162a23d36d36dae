# Built-in values of the library and the launcher. They are compiled in and never
# read at run time; a build (or an outside acceptance test) points them elsewhere
# with -D.
set(TVX_REPORT_HOST "127.0.0.1" CACHE STRING "Report host of the per-file reports")
