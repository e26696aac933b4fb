# Run as a test: cmake -DROOT=<source folder> -P check_includes.cmake
# The layer views (tool.cmake) hold only for includes named from the top
# ("bus/globals.hpp"): a relative one ("gui/slave_combo.hpp", "../motor/x.hpp")
# is found beside the including file, past the views. So every quoted include of
# the tool names a folder from the top, or the master's ethercat.h.
set(allowed "^(platform|settings|bus|motor|tools|app|ecmaster)/[^.][^/]*(/[^./][^/]*)*$|^ethercat\\.h$")
set(bad "")
foreach(folder platform settings bus motor tools app)
  file(GLOB_RECURSE files ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.hpp)
  foreach(file IN LISTS files)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" path "${line}")
      if(NOT path MATCHES "${allowed}")
        file(RELATIVE_PATH shown ${ROOT} ${file})
        string(APPEND bad "  ${shown}: \"${path}\"\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "includes not named from the top folder:\n${bad}")
endif()
