# The tool: zr_core holds the logic of app/, bus/, motor/, tools/ and platform/
# without widgets (so the threaded code can be built and tested under every
# sanitizer); zr_gui holds the Qt classes from the gui/ folder of each; the
# executable is quendrel.
set(TOOL_DIRS platform app bus motor tools)

set(ZR_CORE_SOURCES)
set(ZR_GUI_SOURCES)
foreach(dir ${TOOL_DIRS})
  file(GLOB core CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
  file(GLOB gui CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/gui/*.cpp)
  list(APPEND ZR_CORE_SOURCES ${core})
  list(APPEND ZR_GUI_SOURCES ${gui})
endforeach()
list(FILTER ZR_CORE_SOURCES EXCLUDE REGEX ".*/app/main\\.cpp$")

if(ZR_CORE_SOURCES)
  add_library(zr_core STATIC ${ZR_CORE_SOURCES})
  target_include_directories(zr_core PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(zr_core PUBLIC ecmaster Threads::Threads)
endif()

if(QUENDREL_BUILD_GUI AND ZR_GUI_SOURCES AND TARGET zr_core)
  set(CMAKE_AUTOMOC ON)
  add_library(zr_gui STATIC ${ZR_GUI_SOURCES})
  target_link_libraries(zr_gui PUBLIC zr_core Qt6::Widgets Qt6::Gui Qt6::Core)
  if(EXISTS ${PROJECT_SOURCE_DIR}/app/main.cpp)
    add_executable(quendrel ${PROJECT_SOURCE_DIR}/app/main.cpp)
    target_link_libraries(quendrel PRIVATE zr_gui)
  endif()
endif()
