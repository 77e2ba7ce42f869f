# Checks what the dynamic linker sees of the tool and the library:
#   the library is libcorvane-pulsewarden.so.1 and exports the seven
#   operations and nothing else;
#   the tool names that library as NEEDED (so any other build of it can take
#   its place), leaves what only watch needs to watch's module, needs no
#   C++ runtime, and looks
#   for libraries in no directory but the ones it names (an empty entry in
#   its search path would be the current directory);
#   watch's module needs no C++ runtime of the system's either, so that it
#   loads where the system's libstdc++ is older than the compiler's.
function(run out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

run(dynamic readelf -d ${LIBRARY})
if(NOT dynamic MATCHES "Library soname: \\[libcorvane-pulsewarden\\.so\\.1\\]")
  message(FATAL_ERROR "library SONAME is not libcorvane-pulsewarden.so.1:\n${dynamic}")
endif()

run(symbols nm -D --defined-only --format=just-symbols ${LIBRARY})
string(REGEX REPLACE "\n$" "" symbols "${symbols}")
string(REPLACE "\n" ";" symbols "${symbols}")
list(SORT symbols)
set(expected Tendwell_Disable Tendwell_Enable Tendwell_Free Tendwell_GetAppStatus
  Tendwell_IsEnabled Tendwell_MarkActive Tendwell_PostAppState)
if(NOT symbols STREQUAL expected)
  message(FATAL_ERROR "library exports ${symbols}\nexpected ${expected}")
endif()

run(needed readelf -d ${TOOL})
if(NOT needed MATCHES "Shared library: \\[libcorvane-pulsewarden\\.so\\.1\\]")
  message(FATAL_ERROR "the tool does not link the library by its SONAME:\n${needed}")
endif()
if(needed MATCHES "(RPATH|RUNPATH)[^[]*\\[(:|[^]]*::|[^]]*:\\])")
  message(FATAL_ERROR "the tool's library search path has an empty entry:\n${needed}")
endif()
if(NOT SANITIZED AND needed MATCHES "libstdc\\+\\+")
  message(FATAL_ERROR "the tool needs libstdc++:\n${needed}")
endif()
run(imports nm -D --undefined-only --format=just-symbols ${TOOL})
# What only watch needs is in its module, not paid for by a one-shot run.
if(imports MATCHES "(^|\n)(fork|timerfd_create|execvpe|pipe2|kill)(@|\n)")
  message(FATAL_ERROR "the tool itself imports what only watch needs:\n${imports}")
endif()
foreach(op IN LISTS expected)
  if(NOT imports MATCHES "${op}")
    message(FATAL_ERROR "the tool does not call ${op} through the dynamic linker")
  endif()
endforeach()

run(module readelf -W -d --dyn-syms ${MODULE})
if(NOT SANITIZED AND module MATCHES "libstdc\\+\\+|GLIBCXX_|CXXABI_")
  string(REGEX MATCHALL "libstdc\\+\\+[^]]*|(GLIBCXX|CXXABI)_[0-9.]+" needs "${module}")
  list(REMOVE_DUPLICATES needs)
  message(FATAL_ERROR "watch's module needs the system's C++ runtime: ${needs}")
endif()
