# setup.exe (or setup64.exe), the stand-in kit and the test-only tools, cross-built for 32-bit
# (or 64-bit) Windows.

# The 64-bit flavour carries the same sources and payload store under its own names.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(SETUP_NAME setup64)
  set(PACK_NAME setup-pack64)
  set(SETUP_DESCRIPTION "BIOS task package setup (64-bit)")
  set(PACK_DESCRIPTION "BIOS task package builder (64-bit)")
else()
  set(SETUP_NAME setup)
  set(PACK_NAME setup-pack)
  set(SETUP_DESCRIPTION "BIOS task package setup")
  set(PACK_DESCRIPTION "BIOS task package builder")
endif()

set(SETUP_SIZE_FLAGS -Os -ffunction-sections -fdata-sections -flto)
# No time stamp in the PE headers, so that two builds of one commit are byte-identical.
# Sections aligned to pages in the file as in memory, so that the payload is mapped from the file
# rather than read into private memory when the program is loaded.
set(SETUP_LINK_FLAGS -Os -flto=auto -static -static-libgcc -static-libstdc++ -Wl,--gc-sections -s
  -Wl,--no-insert-timestamp -Wl,--file-alignment,4096 -Wl,--section-alignment,4096)

set(VERSION_PRODUCT "BIOS task package")
set(VERSION_COMPANY "Corvane")
# A version resource for Explorer's properties and deployment systems' file-version rules.
function(configure_version_resource file_name description output)
  set(VERSION_FILE_NAME ${file_name})
  set(VERSION_DESCRIPTION ${description})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${output} @ONLY)
endfunction()
configure_version_resource(${SETUP_NAME}.exe "${SETUP_DESCRIPTION}"
  ${CMAKE_BINARY_DIR}/setup_version.rc)
configure_version_resource(${PACK_NAME}.exe "${PACK_DESCRIPTION}"
  ${CMAKE_BINARY_DIR}/setup-pack_version.rc)
set(SETUP_SYSTEM_LIBRARIES advapi32 shell32 ole32 oleaut32 user32 kernel32)

add_subdirectory(kit)

# Everything of the setup except its waits for its programs, which a test build shortens.
add_library(setup_core STATIC
  ${SETUP_PORTABLE_SOURCES}
  setup/command_line_options_process.cpp
  setup/pc_check.cpp
  shared/result_log.cpp
  shared/trace_log.cpp
  payload/payload_store.cpp
  payload/cabinet_extractor.cpp
  payload/cabinet_destination.cpp
  payload/profile_reader.cpp
  payload/installation_files.cpp
  payload/stage_folder.cpp
  install/install_sequence.cpp
  install/result_record.cpp
  install/cleanup.cpp
  install/bitlocker.cpp
  install/restart_mark.cpp
  shared/utc_time.cpp
  shared/setting_text.cpp
  platform/code_pages.cpp
  platform/own_files.cpp
  platform/xml_document.cpp
  platform/folder_security.cpp
  platform/system_facts.cpp
  platform/cabinet_library.cpp
  platform/machine_lock.cpp
  platform/process_launcher.cpp
)
target_include_directories(setup_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(setup_core PUBLIC ${SETUP_SIZE_FLAGS})
target_link_libraries(setup_core PUBLIC ${SETUP_SYSTEM_LIBRARIES})

# The payload store: the package's entries (language-neutral) and the template's placeholders
# (English-US).
set(KIT_OUT ${CMAKE_BINARY_DIR}/kit)
set(KIT_DATA ${CMAKE_SOURCE_DIR}/kit/data)
set(KIT_TEMPLATE ${CMAKE_SOURCE_DIR}/kit/template)
configure_file(setup/resources.rc.in ${CMAKE_BINARY_DIR}/resources.rc @ONLY)
set(SETUP_RESOURCES ${CMAKE_BINARY_DIR}/resources.rc ${CMAKE_BINARY_DIR}/setup_version.rc)
set_source_files_properties(${CMAKE_BINARY_DIR}/resources.rc PROPERTIES
  OBJECT_DEPENDS "${KIT_PAYLOAD_FILES};${CMAKE_SOURCE_DIR}/setup/setup.manifest")

# A wait in milliseconds other than the setup's own is for test builds only.
function(add_setup_executable name)
  add_executable(${name} WIN32 setup/win_main.cpp setup/terminate_handler.cpp
    install/child_waits.cpp ${SETUP_RESOURCES})
  if(ARGC GREATER 1)
    target_compile_definitions(${name} PRIVATE SETUP_CHILD_WAIT_MS=${ARGV1})
  endif()
  target_link_libraries(${name} PRIVATE setup_core)
  target_link_options(${name} PRIVATE ${SETUP_LINK_FLAGS})
  add_dependencies(${name} kit_payload)
endfunction()

add_setup_executable(${SETUP_NAME})
# Test-only: the same setup with a short wait for each program (3 s, times the SETUP_TIME_FACTOR of the
# test machine), to reach the time-out path. Never shipped.
add_setup_executable(${SETUP_NAME}-shortwait 3000)

# The package builder for administrators.
add_executable(${PACK_NAME} pack/pack_main.cpp pack/pack_options.cpp pack/package_build.cpp
  pack/package_list.cpp pack/package_sheet.cpp pack/package_checks.cpp pack/sha256.cpp pack/pack_text.cpp
  pack/pe_resources.cpp pack/kit_cabinet.cpp pack/build_folder.cpp pack/build_inputs.cpp
  pack/build_settings.cpp pack/package_write.cpp platform/build_files.cpp
  ${CMAKE_BINARY_DIR}/setup-pack_version.rc)
target_link_libraries(${PACK_NAME} PRIVATE setup_core)
target_link_options(${PACK_NAME} PRIVATE ${SETUP_LINK_FLAGS})

add_subdirectory(tests/tools)
