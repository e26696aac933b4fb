# The tool, one static library per layer, bottom up:
#   platform -> settings -> bus -> motor, tools -> their gui/ -> app.
# Each layer sees only its own headers and those of the layers it links: its
# include path is a folder of its own holding links to its folder's headers, and
# a library passes that path on to the layers above it. A gui/ folder has a view
# of its own, so the logic of its layer (and every layer above that links only
# the logic) does not see it. So an include of a higher layer or of a gui/ header
# from logic fails to compile, and a call into one fails to link.
set(ZR_LAYER_VIEWS ${CMAKE_BINARY_DIR}/layer_views)

# zr_view(TARGET FOLDER): TARGET's include path shows FOLDER's headers as
# "FOLDER/name.hpp", and nothing of its subfolders. Made afresh at each
# configure; a header added or removed configures again.
function(zr_view target folder)
  set(view ${ZR_LAYER_VIEWS}/${target})
  set(dir ${view}/${folder})
  # Earlier builds linked the whole top folder here: drop such a link (never
  # what it points to), then the links of headers since removed.
  string(REGEX MATCH "^[^/]+" top ${folder})
  if(IS_SYMLINK ${view}/${top})
    file(REMOVE ${view}/${top})
  endif()
  file(MAKE_DIRECTORY ${dir})
  file(GLOB old ${dir}/*)
  foreach(entry IN LISTS old)
    if(IS_SYMLINK ${entry})
      file(REMOVE ${entry})
    endif()
  endforeach()
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.hpp)
  foreach(header IN LISTS headers)
    get_filename_component(leaf ${header} NAME)
    file(CREATE_LINK ${header} ${dir}/${leaf} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC ${view})
endfunction()

# zr_layer(NAME FOLDER SOURCES... LINKS ...): library NAME from SOURCES, which
# sees FOLDER's headers and what LINKS pass on.
function(zr_layer name folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "SOURCES;LINKS")
  add_library(${name} STATIC ${arg_SOURCES})
  zr_view(${name} ${folder})
  target_link_libraries(${name} PUBLIC ${arg_LINKS})
endfunction()

# The sources of one folder, listed by name so that a lost file is an error.
function(zr_sources out folder)
  list(TRANSFORM ARGN PREPEND ${PROJECT_SOURCE_DIR}/${folder}/ OUTPUT_VARIABLE files)
  set(${out} ${files} PARENT_SCOPE)
endfunction()

zr_sources(platform_src platform adapters.cpp debug_log.cpp file_read.cpp file_write.cpp latin1.cpp
           message_box.cpp single_instance.cpp)
zr_sources(settings_src settings access_level.cpp number_text.cpp settings_file.cpp settings_values.cpp
           settings_state.cpp shared_text.cpp)
zr_sources(bus_src bus adapter_choice.cpp bridge_board.cpp bus_state.cpp bus_stop.cpp bus_threads.cpp busy_wait.cpp
           globals.cpp motor_channel.cpp process_image.cpp scan_thread.cpp sdo_text.cpp
           supervision.cpp text_log.cpp)
zr_sources(motor_src motor bridge_params.cpp motor_setup.cpp motor_state.cpp param_file.cpp tq_init.cpp
           tql_command.cpp tql_reply.cpp uart_speed_switch.cpp)
zr_sources(tools_src tools axis_modes.cpp board_identity.cpp cia402_page_logic.cpp coe_access.cpp
           eeprom_image.cpp field_number.cpp firmware_file.cpp homing.cpp intel_hex.cpp pdo_views.cpp
           self_prg.cpp slave_registers.cpp tools_state.cpp)

zr_layer(zr_platform platform SOURCES ${platform_src} LINKS Threads::Threads)
zr_layer(zr_settings settings SOURCES ${settings_src} LINKS zr_platform)
zr_layer(zr_bus bus SOURCES ${bus_src} LINKS zr_settings ecmaster)
zr_layer(zr_motor motor SOURCES ${motor_src} LINKS zr_bus)
zr_layer(zr_tools tools SOURCES ${tools_src} LINKS zr_bus)
# Everything without widgets, for the tests of the logic (every sanitizer).
add_library(zr_core INTERFACE)
target_link_libraries(zr_core INTERFACE zr_motor zr_tools)

if(NOT QUENDREL_BUILD_GUI)
  return()
endif()

set(CMAKE_AUTOMOC ON)
zr_sources(platform_gui_src platform/gui qt_message_box.cpp)
zr_sources(bus_gui_src bus/gui busy_cursor.cpp config_slave.cpp scan_lan_adapter.cpp scan_log_colours.cpp tool_dialog.cpp
           slave_combo.cpp)
zr_sources(motor_gui_src motor/gui option_set1.cpp para_set.cpp tql_mode.cpp
           voze_rudadozira_vur.cpp)
zr_sources(tools_gui_src tools/gui board_init.cpp cat_tools.cpp cia402_mode.cpp coe_controls.cpp
           mail_box_coe.cpp rx_pdo_and_tx_pdo.cpp self_up_date_program.cpp slave_memory.cpp)
zr_sources(app_gui_src app/gui app_icon.cpp application.cpp global_dialogs.cpp main_window.cpp)

zr_layer(zr_platform_gui platform/gui SOURCES ${platform_gui_src}
         LINKS zr_platform Qt6::Widgets Qt6::Gui Qt6::Core)
zr_layer(zr_bus_gui bus/gui SOURCES ${bus_gui_src} LINKS zr_bus zr_platform_gui)
zr_layer(zr_motor_gui motor/gui SOURCES ${motor_gui_src} LINKS zr_motor zr_bus_gui)
zr_layer(zr_tools_gui tools/gui SOURCES ${tools_gui_src} LINKS zr_tools zr_bus_gui)
zr_layer(zr_app app/gui SOURCES ${app_gui_src} LINKS zr_motor_gui zr_tools_gui)
# The icon's picture is compiled into the program, so that every run has it.
target_link_libraries(zr_app PRIVATE Qt6::Svg)
qt_add_resources(zr_app quendrel_icon PREFIX / BASE res FILES res/quendrel.svg)
# Every window, for the widget tests and the executable.
add_library(zr_gui INTERFACE)
target_link_libraries(zr_gui INTERFACE zr_app)

add_executable(quendrel ${PROJECT_SOURCE_DIR}/app/main.cpp)
target_link_libraries(quendrel PRIVATE zr_app)

include(GNUInstallDirs)
install(TARGETS quendrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES res/quendrel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
