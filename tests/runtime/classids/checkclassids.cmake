# Runs camera_add_module's class-table check on one table:
#   cmake -DTABLE="<class table>" -DDIRS="<directory>;..." -P checkclassids.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/CameraModule.cmake)
separate_arguments(table UNIX_COMMAND "${TABLE}")
_camera_parse_class_table(testchk T ${table})
_camera_check_class_ids(testchk "${T_IDS}" "${T_NAMES}" ${DIRS})
message(STATUS "class table agrees")
