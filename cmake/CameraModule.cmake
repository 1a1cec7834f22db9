# Framework modules: how they are built, and how to grow one.
#
# A module (Corvane, Senvar, Calbrook, Bayrox) is written in ONE camera_add_module call. That
# call holds the module's class table; the module's .mif and its class switch are both made
# from it, so they cannot disagree.
#
# Add a component (a folder with src/) to a module: name the folder once in the module's
# COMPONENTS, and list the folder's sources in its own CMakeLists.txt:
#     camera_add_module(Corvane Corvane ... COMPONENTS settings tuningdata flashservice ...)
#     # mm/camera/srckit/flashservice/CMakeLists.txt
#     camera_component(SOURCES src/cflashservice.cpp src/cflashled.cpp [LIBS <libraries>...])
#   A header other folders, the class table or other components' tests include goes in the
#   folder's include/ (seen by the whole module and its users); the rest stays in src/,
#   which only the folder's own sources see. A header several components share that belongs
#   to none of them goes in the camera's inc/. A test of a component's hidden classes names
#   it: camera_sees_private(<test target> <folder>...). The configure step refuses an
#   #include of another component's src/ (camera_check_component_boundaries below).
#
# Add a class to a module: give its entry in the module's CLASSES a create function (and the
# header that declares it, if the function is a class member):
#     0x010707a7 CFlashService::ClassEntry cflashservice.h ZUEUID_CLASS_FLASH_SERVICE
#   The last word names the class's #define (see CLASS_IDS below). A create function takes (IEnv*, ZUEUID, void* argument, void** out) and returns the
#   result code. A class of the package whose code does not exist yet is its identifier
#   alone: the .mif lists it (the package's file is complete from the start) and the switch
#   answers 3 for it, so the host goes on to the next module that lists it.
#
# Add a module: one call, e.g.
#     camera_add_module(Senvar Senvar
#       CLASS_IDS ${CMAKE_CURRENT_SOURCE_DIR}/inc
#       CLASSES 0x0108aed0 0x0108aece 0x0108aecf 0x0106c427
#       COMPONENTS sensordriver
#       LIBS Plindor)
#
# camera_add_module(<target> <DeviceName>
#                   [ACCESS_RULE <text>]
#                   [CLASS_IDS <directory>...]
#                   CLASSES <class-id> [<create-function> [<header.h>]] [<NAME_CLASS_X>] ...
#                   [COMPONENTS <folder>...]
#                   [SOURCES <sources>...]
#                   [LIBS <libraries>...])
#
# Builds:
#   <target>       the module image "<DeviceName>.dll" in the image's Windows/, with hidden
#                  visibility and only IMod_New and ModImage_SymbolFixup exported; its own
#                  copy of the framework runtime (pvlruntime_module) and the module-only
#                  pieces (host-symbol table and forwarders, IMod_New, global new/delete
#                  over the framework heap). The link is refused when an object file would
#                  bring a static constructor (see CheckModuleInit.cmake).
#   <target>_code  the module's code as a static library (without the module-only pieces and
#                  without a runtime) for unit tests; link it together with pvlruntime.
#   "<DeviceName>.mif" beside the image: the class identifiers in table order, and the access
#                  rule when given.
# LIBS (and a component's LIBS) are linked into both forms (e.g. Plindor, coredll).
#
# Class identifiers are also #defined in headers for the code that creates the classes. With
# CLASS_IDS, the configure step reads every "#define <NAME>_CLASS_<X> 0x..." of the headers in
# those directories and fails unless the two agree: a class the table names has that #define
# with the table's identifier, and an identifier the table lists that a header #defines is
# named there by that #define (so no second name for one class). Editing those headers re-runs
# the configure step.
include_guard(GLOBAL)

set(CAMERA_MODULE_INIT_CHECK ${CMAKE_CURRENT_LIST_DIR}/CheckModuleInit.cmake CACHE INTERNAL "")

# Reads a class table into <prefix>_IDS (every identifier, in order), <prefix>_NAMES (id=name
# for the classes the table names) and <prefix>_CASES, <prefix>_HEADERS, <prefix>_DECLARATIONS
# (the switch's pieces for the classes with code).
function(_camera_parse_class_table target prefix)
  set(ids)
  set(names)
  set(named)
  set(cases)
  set(headers)
  set(declarations)
  set(current)
  set(create)
  # A sentinel flushes the last entry.
  foreach(token IN LISTS ARGN ITEMS 0x0)
    if(token MATCHES "^0[xX][0-9a-fA-F]+$")
      if(current AND create)
        string(APPEND cases "    case ${current}u:\n      return ${create}(env, clsid, argument, out);\n")
        if(NOT create MATCHES "::")
          # A free create function: the switch declares it with the one signature.
          string(APPEND declarations "int32_t ${create}(IEnv* env, ZUEUID clsid, void* argument, void** out);\n")
        endif()
      endif()
      if(token STREQUAL "0x0")
        break()
      endif()
      string(LENGTH "${token}" length)
      if(length GREATER 10)
        message(FATAL_ERROR "camera_add_module(${target}): class identifier ${token} has more than 32 bits")
      endif()
      string(TOLOWER "${token}" token)
      if(token IN_LIST ids)
        message(FATAL_ERROR "camera_add_module(${target}): class ${token} is listed twice")
      endif()
      list(APPEND ids ${token})
      set(current ${token})
      set(create)
      set(named)
    elseif(current AND token MATCHES "^[A-Z][A-Z0-9]*_CLASS_[A-Z0-9_]+$")
      if(named)
        message(FATAL_ERROR "camera_add_module(${target}): class ${current} is named twice (${named}, ${token})")
      endif()
      set(named ${token})
      list(APPEND names "${current}=${token}")
    elseif(named)
      message(FATAL_ERROR "camera_add_module(${target}): \"${token}\" after the name of class ${current}: the name comes last")
    elseif(NOT current)
      message(FATAL_ERROR "camera_add_module(${target}): CLASSES must start with a class identifier, got \"${token}\"")
    elseif(token MATCHES "\\.h$")
      if(NOT create)
        message(FATAL_ERROR "camera_add_module(${target}): header ${token} of class ${current} comes before its create function")
      endif()
      list(APPEND headers ${token})
    elseif(NOT create AND token MATCHES "^[A-Za-z_][A-Za-z0-9_:]*$")
      set(create ${token})
    else()
      message(FATAL_ERROR "camera_add_module(${target}): \"${token}\" after class ${current} is neither a create function nor a header")
    endif()
  endforeach()
  if(NOT ids)
    message(FATAL_ERROR "camera_add_module(${target}): CLASSES is required")
  endif()
  list(REMOVE_DUPLICATES headers)
  set(${prefix}_IDS ${ids} PARENT_SCOPE)
  set(${prefix}_NAMES ${names} PARENT_SCOPE)
  set(${prefix}_CASES "${cases}" PARENT_SCOPE)
  set(${prefix}_HEADERS ${headers} PARENT_SCOPE)
  set(${prefix}_DECLARATIONS "${declarations}" PARENT_SCOPE)
endfunction()

# Checks a parsed class table (ids, id=name pairs) against the class #defines of the headers in
# the given directories; see CLASS_IDS above.
function(_camera_check_class_ids target ids names)
  set(defined)  # NAME=id, every class #define of the headers
  foreach(dir IN LISTS ARGN)
    if(NOT IS_DIRECTORY "${dir}")
      message(FATAL_ERROR "camera_add_module(${target}): CLASS_IDS directory ${dir} does not exist")
    endif()
    if(CMAKE_SCRIPT_MODE_FILE)  # the check's own tests
      file(GLOB headers "${dir}/*.h")
    else()
      file(GLOB headers CONFIGURE_DEPENDS "${dir}/*.h")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${headers})
    endif()
    foreach(header IN LISTS headers)
      file(STRINGS ${header} lines REGEX "^[ \t]*#[ \t]*define[ \t]+[A-Z][A-Z0-9]*_CLASS_[A-Z0-9_]+[ \t]")
      foreach(line IN LISTS lines)
        if(NOT line MATCHES "define[ \t]+([A-Z0-9_]+)[ \t]+(0[xX][0-9a-fA-F]+)[uU]?([ \t]|$)")
          message(FATAL_ERROR "camera_add_module(${target}): ${header}: a class #define that is not one number: ${line}")
        endif()
        set(name ${CMAKE_MATCH_1})
        string(TOLOWER "${CMAKE_MATCH_2}" id)
        foreach(entry IN LISTS defined)
          if(entry MATCHES "^${name}=(.*)$" AND NOT CMAKE_MATCH_1 STREQUAL id)
            message(FATAL_ERROR "camera_add_module(${target}): ${name} is #defined twice, as ${CMAKE_MATCH_1} and ${id} (${header})")
          endif()
        endforeach()
        list(APPEND defined "${name}=${id}")
        set(where_${name} ${header})
      endforeach()
    endforeach()
  endforeach()
  # The table's names: each #defined with the table's identifier.
  foreach(pair IN LISTS names)
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 id)
    list(GET pair 1 name)
    set(found)
    foreach(entry IN LISTS defined)
      if(entry MATCHES "^${name}=(.*)$")
        set(found ${CMAKE_MATCH_1})
      endif()
    endforeach()
    if(NOT found)
      message(FATAL_ERROR "camera_add_module(${target}): class ${id} is named ${name}, which no header of ${ARGN} #defines")
    elseif(NOT found STREQUAL id)
      message(FATAL_ERROR "camera_add_module(${target}): the table lists ${name} as ${id}, ${where_${name}} #defines it as ${found}")
    endif()
  endforeach()
  # And the reverse: every #define of a listed identifier is the name the table gives it.
  foreach(entry IN LISTS defined)
    string(REPLACE "=" ";" entry "${entry}")
    list(GET entry 0 name)
    list(GET entry 1 id)
    if(NOT id IN_LIST ids OR "${id}=${name}" IN_LIST names)
      continue()
    endif()
    set(given "no name")
    foreach(pair IN LISTS names)
      if(pair MATCHES "^${id}=(.*)$")
        set(given "the name ${CMAKE_MATCH_1}")
      endif()
    endforeach()
    message(FATAL_ERROR "camera_add_module(${target}): ${where_${name}} #defines ${name} as ${id}, which the table lists with ${given}")
  endforeach()
endfunction()

function(camera_add_module target device_name)
  cmake_parse_arguments(M "" "ACCESS_RULE" "CLASS_IDS;CLASSES;COMPONENTS;SOURCES;LIBS" ${ARGN})
  if(M_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "camera_add_module(${target}): unknown arguments ${M_UNPARSED_ARGUMENTS}")
  endif()
  _camera_parse_class_table(${target} T ${M_CLASSES})
  if(M_CLASS_IDS)
    _camera_check_class_ids(${target} "${T_IDS}" "${T_NAMES}" ${M_CLASS_IDS})
  endif()
  camera_require_targets(${target} ${M_LIBS})

  # The class switch, written from the table.
  set(switch_source ${CMAKE_CURRENT_BINARY_DIR}/${target}_classswitch.cpp)
  set(includes)
  foreach(header IN LISTS T_HEADERS)
    string(APPEND includes "#include \"${header}\"\n")
  endforeach()
  file(RELATIVE_PATH table_file ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_LIST_FILE})
  file(CONFIGURE OUTPUT ${switch_source} @ONLY CONTENT
"// ${device_name}'s class switch, written by the build from the class table of
// camera_add_module(${target}) in ${table_file}.
// Classes the table lists without a create function answer 3, like unknown ones, and leave
// no stale pointer behind.
#include <stdint.h>

#include \"hostsymbols.h\"
#include \"ienv.h\"
#include \"pvlresult.h\"
${includes}
${T_DECLARATIONS}
extern \"C\" int32_t Mod_ClassFactory([[maybe_unused]] IEnv* env, ZUEUID clsid, [[maybe_unused]] void* argument,
                                    void** out) {
  switch (clsid) {
${T_CASES}    default:
      if (out) *out = nullptr;
      return PVL_E_NOTSUPPORTED;
  }
}
")

  # The module's code, compiled once, hidden.
  add_library(${target}_objects OBJECT ${switch_source} ${M_SOURCES})
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
  set(link_map ${CMAKE_CURRENT_BINARY_DIR}/${device_name}.map)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON C_VISIBILITY_PRESET hidden
    LINK_DEPENDS ${CAMERA_MODULE_VERSION_SCRIPT}
    CAMERA_MODULE_IMAGE ON)
  # Libraries first: a static library among them may call into the runtime.
  target_link_libraries(${target} PRIVATE ${M_LIBS} pvlruntime_module)
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${CAMERA_MODULE_VERSION_SCRIPT}
    -Wl,--exclude-libs,ALL
    -Wl,--no-undefined
    -Wl,-Map,${link_map})
  # Static constructors run inside dlopen, before the host is bound: refuse the image.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:${target}> -DMAP=${link_map}
            -P ${CAMERA_MODULE_INIT_CHECK}
    VERBATIM)

  # The module-information file beside the image.
  set(mif ${CAMERA_IMAGE_WINDOWS}/${device_name}.mif)
  set(rule_args)
  if(DEFINED M_ACCESS_RULE)
    set(rule_args --access-rule "${M_ACCESS_RULE}")
  endif()
  add_custom_command(OUTPUT ${mif}
    COMMAND mifwriter ${mif} ${rule_args} ${T_IDS}
    DEPENDS mifwriter ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Writing ${device_name}.mif"
    VERBATIM)
  add_custom_target(${target}_mif ALL DEPENDS ${mif})
  add_dependencies(${target} ${target}_mif)

  # The components, each listed once; their camera_component() calls land here.
  foreach(component IN LISTS M_COMPONENTS)
    set(CAMERA_COMPONENT_MODULE ${target})
    add_subdirectory(${component})
  endforeach()
endfunction()

# camera_component(SOURCES <sources>... [LIBS <libraries>...])
# In a component folder's CMakeLists.txt: adds the folder's sources to the module that
# lists the folder in its COMPONENTS; the folder's include/ becomes an include directory of
# the module and its users, its src/ one of the folder's own sources.
function(camera_component)
  cmake_parse_arguments(C "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT CAMERA_COMPONENT_MODULE)
    message(FATAL_ERROR "camera_component in ${CMAKE_CURRENT_SOURCE_DIR}: the folder is in no module's COMPONENTS")
  endif()
  if(NOT C_SOURCES OR C_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "camera_component in ${CMAKE_CURRENT_SOURCE_DIR}: SOURCES <files>... [LIBS <libraries>...]")
  endif()
  set(m ${CAMERA_COMPONENT_MODULE})
  camera_require_targets("${m} component ${CMAKE_CURRENT_SOURCE_DIR}" ${C_LIBS})
  list(TRANSFORM C_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  target_sources(${m}_objects PRIVATE ${C_SOURCES})
  # include/ is the folder's face to the module, the other folders and the tests; src/ is
  # seen by the folder's own sources only, though they share the module's one target.
  if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_include_directories(${m}_objects PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  endif()
  set_source_files_properties(${C_SOURCES} TARGET_DIRECTORY ${m}_objects
    PROPERTIES INCLUDE_DIRECTORIES ${CMAKE_CURRENT_SOURCE_DIR}/src)
  set_property(GLOBAL APPEND PROPERTY CAMERA_COMPONENT_FOLDERS ${CMAKE_CURRENT_SOURCE_DIR})
  if(C_LIBS)
    target_link_libraries(${m}_objects PUBLIC ${C_LIBS})
    target_link_libraries(${m}_code PUBLIC ${C_LIBS})
    # Before the runtime, like the module's own LIBS.
    get_target_property(libs ${m} LINK_LIBRARIES)
    list(REMOVE_ITEM libs pvlruntime_module)
    set_target_properties(${m} PROPERTIES LINK_LIBRARIES "${libs};${C_LIBS};pvlruntime_module")
  endif()
endfunction()

# camera_sees_private(<target>|DIRECTORY <component folder>...)
# For a test or benchmark of a component's hidden classes: <target> (or, with DIRECTORY, every
# target the calling folder adds after the call) also sees the named components' src/ (a
# folder as its module's COMPONENTS names it, e.g. engine/ports). The boundary check lets the
# files of the calling folder include those headers.
function(camera_sees_private target)
  get_property(folders GLOBAL PROPERTY CAMERA_COMPONENT_FOLDERS)
  foreach(name IN LISTS ARGN)
    set(found)
    foreach(folder IN LISTS folders)
      if(folder MATCHES "/${name}$")
        set(found ${folder})
      endif()
    endforeach()
    if(NOT found)
      message(FATAL_ERROR "camera_sees_private(${target}): no component folder ${name}")
    endif()
    if(target STREQUAL "DIRECTORY")
      include_directories(${found}/src)
    else()
      target_include_directories(${target} PRIVATE ${found}/src)
    endif()
    set_property(GLOBAL APPEND PROPERTY CAMERA_PRIVATE_SEERS "${CMAKE_CURRENT_SOURCE_DIR}=${found}")
  endforeach()
endfunction()

# camera_check_component_boundaries()
# Called once at the end of the top-level list. A component's src/ is its own: a quoted
# #include that names a header found only in another component's src/ fails the configure
# step, naming the file and the header, as does a header in include/ that includes its own
# folder's src/ (it would not compile for anyone else). Files of a folder that gave a
# target camera_sees_private may include that component's private headers.
function(camera_check_component_boundaries)
  get_property(folders GLOBAL PROPERTY CAMERA_COMPONENT_FOLDERS)
  get_property(seers GLOBAL PROPERTY CAMERA_PRIVATE_SEERS)
  foreach(folder IN LISTS folders)
    file(GLOB headers RELATIVE ${folder}/src ${folder}/src/*.h)
    foreach(header IN LISTS headers)
      set(owner_${header} ${folder})
    endforeach()
  endforeach()
  # A name that a public folder also holds resolves there.
  foreach(folder IN LISTS folders)
    file(GLOB headers RELATIVE ${folder}/include ${folder}/include/*.h)
    foreach(header IN LISTS headers)
      unset(owner_${header})
    endforeach()
  endforeach()

  file(GLOB tops LIST_DIRECTORIES true RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/*)
  set(files)
  foreach(top IN LISTS tops)
    if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/${top} AND NOT top MATCHES "^(build.*|\\..*)$")
      file(GLOB_RECURSE found ${CMAKE_SOURCE_DIR}/${top}/*.h ${CMAKE_SOURCE_DIR}/${top}/*.cpp
           ${CMAKE_SOURCE_DIR}/${top}/*.c)
      list(APPEND files ${found})
    endif()
  endforeach()

  set(faults)
  foreach(file IN LISTS files)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    if(NOT lines)
      continue()
    endif()
    get_filename_component(dir ${file} DIRECTORY)
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" name "${line}")
      get_filename_component(header ${name} NAME)
      if(NOT DEFINED owner_${header} OR EXISTS ${dir}/${name}
         OR file MATCHES "^${owner_${header}}/src/")
        continue()
      endif()
      set(allowed FALSE)
      foreach(seer IN LISTS seers)
        string(REPLACE "=" ";" seer "${seer}")
        list(GET seer 0 seer_dir)
        list(GET seer 1 seen)
        if(seen STREQUAL owner_${header} AND file MATCHES "^${seer_dir}/")
          set(allowed TRUE)
        endif()
      endforeach()
      if(NOT allowed)
        file(RELATIVE_PATH where ${CMAKE_SOURCE_DIR} ${file})
        file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${owner_${header}})
        list(APPEND faults "${where} includes ${header}, private to ${folder}/src")
      endif()
    endforeach()
  endforeach()
  if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "includes of another component's private headers (move the header to "
      "that component's include/, or give the test camera_sees_private):\n  ${text}")
  endif()
endfunction()
