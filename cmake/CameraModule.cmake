# camera_add_module(<target> <DeviceName>
#                   CLASSES <class-id>...
#                   [ACCESS_RULE <text>]
#                   SOURCES <sources...>
#                   [LIBS <libraries...>])
#
# Builds a framework module the way the host maps it:
#   <target>       the module image "<DeviceName>.dll" in the image's Windows/, with
#                  hidden visibility and only IMod_New and ModImage_SymbolFixup
#                  exported; its own copy of the framework runtime (pvlruntime_module)
#                  and the module-only pieces (host-symbol table and forwarders,
#                  IMod_New, global new/delete over the framework heap). The module's
#                  sources define its class switch:
#                    extern "C" int32_t Mod_ClassFactory(IEnv*, ZUEUID, void* arg, void** out);
#   <target>_code  the module's code as a static library (without the module-only
#                  pieces and without a runtime) for unit tests; link it together with
#                  pvlruntime. Give include directories and definitions to
#                  <target>_objects (PUBLIC); <target>_code passes them on.
#   "<DeviceName>.mif" beside the image, listing CLASSES (and the access rule).
# LIBS are linked into both forms (e.g. Plindor, coredll).
function(camera_add_module target device_name)
  cmake_parse_arguments(M "" "ACCESS_RULE" "CLASSES;SOURCES;LIBS" ${ARGN})
  if(NOT M_CLASSES OR NOT M_SOURCES)
    message(FATAL_ERROR "camera_add_module(${target}): CLASSES and SOURCES are required")
  endif()

  # The module's code, compiled once, hidden.
  add_library(${target}_objects OBJECT ${M_SOURCES})
  set_target_properties(${target}_objects PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON C_VISIBILITY_PRESET hidden)
  target_link_libraries(${target}_objects PUBLIC pvlruntime_headers ${M_LIBS})

  add_library(${target}_code STATIC $<TARGET_OBJECTS:${target}_objects>)
  target_link_libraries(${target}_code PUBLIC pvlruntime_headers ${M_LIBS})
  # Include directories and definitions given to <target>_objects reach the tests too.
  target_include_directories(${target}_code PUBLIC
    $<TARGET_PROPERTY:${target}_objects,INTERFACE_INCLUDE_DIRECTORIES>)
  target_compile_definitions(${target}_code PUBLIC
    $<TARGET_PROPERTY:${target}_objects,INTERFACE_COMPILE_DEFINITIONS>)

  camera_add_image_library(${target} ${device_name}
    $<TARGET_OBJECTS:${target}_objects> $<TARGET_OBJECTS:pvlmodentry>)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON C_VISIBILITY_PRESET hidden
    LINK_DEPENDS ${CAMERA_MODULE_VERSION_SCRIPT})
  # Libraries first: a static library among them may call into the runtime.
  target_link_libraries(${target} PRIVATE ${M_LIBS} pvlruntime_module)
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${CAMERA_MODULE_VERSION_SCRIPT}
    -Wl,--exclude-libs,ALL
    -Wl,--no-undefined)

  # The module-information file beside the image.
  set(mif ${CAMERA_IMAGE_WINDOWS}/${device_name}.mif)
  set(rule_args)
  if(DEFINED M_ACCESS_RULE)
    set(rule_args --access-rule "${M_ACCESS_RULE}")
  endif()
  add_custom_command(OUTPUT ${mif}
    COMMAND mifwriter ${mif} ${rule_args} ${M_CLASSES}
    DEPENDS mifwriter ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Writing ${device_name}.mif"
    VERBATIM)
  add_custom_target(${target}_mif ALL DEPENDS ${mif})
  add_dependencies(${target} ${target}_mif)
endfunction()
