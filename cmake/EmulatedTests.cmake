# The test programs of a 32-bit tree that run under an emulator (CAMERA_TARGET_EMULATOR,
# qemu-i386) on a machine that runs no 32-bit programs itself. The emulator is many times
# slower on floating-point code, so only programs that do not run the board's frames in real
# time are worth it there; every other program is still built, so its layout checks hold.
#
# Every test program is listed, with "run" or "build" and why: a new program fails the
# configure step of such a tree until it is placed here. A fourth field names test cases
# left out under the emulator (a gtest filter): death tests in their thread-safe style
# start the program again, which the kernel cannot where qemu-i386 is not registered
# with binfmt_misc.
set(CAMERA_EMULATED_TESTS
  # The word size matters most where records cross the runtime, the registry and the wire.
  "runtime_tests|run|framework runtime: objects, heap, strings, module entry"
  "runtime_host_tests|run|the runtime over the real host and its modules"
  "wince_tests|run|the OS stand-in: handles, memory checks, registry, files"
  "orbhost_tests|run|the framework host: modules, property store|Environment.AFailedStartGivesACodeAndNoEnvironment"
  "plindor_test|run|the platform layer's records and calls|BufferListStart.AFailedBlockAllocationFailsTheStartAndHandsOutNothing:FlashLightStart.WithoutTheGpioDeviceNothingIsDriven"
  "devmgr_test|run|the device manager's streams and I/O controls"
  "tuning_block_test|run|tuning data blocks and their layout"
  "tuning_settings_test|run|tuning settings files"
  "tuning_service_test|run|the tuning service"
  "tuning_server_test|run|the tuning server's protocol over loopback"
  "tunvexprotocol_test|run|the tuning-server protocol's records"
  "tunvexprotocolthread_test|run|the tuning-server protocol thread"
  "tunvexcatalog_test|run|the tuning catalogue"
  "cruntimetuning_test|run|runtime tuning records"
  "runtimetuningconverters_test|run|runtime tuning converters"
  "vfeconfig_test|run|VFE block payloads, byte for byte"
  "vfedriver_test|run|the VFE driver's commands and messages (lock-step on the register model)"
  "ostrel_translation_test|run|the driver's property and format translation"
  "propertytable_test|run|the engine's property table"
  "exifdata_test|run|EXIF records"
  "statemachine_test|run|the engine's state machine"
  "framebuffer_test|run|frame buffer records"
  # Left out: they run the board's sensor and VFE model frame by frame (floating point, tens
  # of times slower emulated) or the whole engine on it; the 64-bit builds run them.
  "board_test|build|board model frames"
  "chipset_test|build|chipset stand-in over the board's frames"
  "camera_module_test|build|sensor module frames"
  "tlmm_gpio_test|build|GPIO over the board"
  "hotfix_tests|build|installer: CAB tools of the build machine"
  "hostsvc_engine_tests|build|the whole engine on the board"
  "hostsvc_service_tests|build|services on the board"
  "hostsvc_tool_tests|build|tools and the JPEG encoder on full frames"
  "senvar_test|build|sensor driver on the board's frames"
  "ports_test|build|engine ports with frames"
  "portmanager_test|build|engine ports with frames"
  "jpegmanager_test|build|JPEG encoding of full frames"
  "engineconfig_test|build|engine over the board"
  "enginestates_test|build|engine states over the board"
  "cameraengine_test|build|the whole engine on the board"
  "enginefrontend_test|build|the whole engine on the board"
  "engineflash_test|build|the whole engine on the board"
  "engineloops_test|build|3A loops on the board"
  "engineproperties_test|build|the whole engine on the board"
  "elfsmanager_test|build|engine over the board"
  "flashelfs_test|build|engine flash over the board"
  "vfemodel_test|build|the VFE model's frames"
  "vfeframepath_test|build|the VFE model's frame path at every thread count"
  "vfeconfigmodel_test|build|payloads run through the VFE model's frames"
  "vfestages_test|build|the VFE model's stages on frames"
  "colourstages_test|build|the VFE model's colour stages on frames"
  "picturecontrols_test|build|picture controls through the VFE model"
  "sensorservice_test|build|sensor service on the board"
  "flashservice_test|build|flash service on the board"
  "vfeservice_test|build|VFE service on the board's frames"
  "picturequality_test|build|pictures of the chart"
  "ostrel_test|build|the driver with its capture threads"
  "ostrelboard_test|build|the driver on the board"
  "ostrel_soak_test|build|soak rounds on the board"
  "ostrel_boardfaults_test|build|board faults while streaming"
  "acceptance_test|build|pictures through the driver"
  "threea_board_test|build|exposure, focus and white balance on the board"
  "calbrook_test|build|statistics on the board's frames"
  "bayrox_test|build|3A on frames"
  "bayrox_board_test|build|3A on the board"
  "camdemo|build|the main job: the whole road in real time"
  "boardframe|build|a full frame of the board's sensor model"
)

# camera_test_runs_here(<program> <out-variable> [<filter-variable>]): TRUE where ctest is
# to run the program; the filter variable gets the gtest filter of the cases it runs.
function(camera_test_runs_here target out)
  if(ARGC GREATER 2)
    set(${ARGV2} "*" PARENT_SCOPE)
  endif()
  if(NOT CAMERA_TARGET_EMULATOR)
    set(${out} TRUE PARENT_SCOPE)
    return()
  endif()
  foreach(entry IN LISTS CAMERA_EMULATED_TESTS)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 name)
    if(name STREQUAL target)
      list(GET fields 1 choice)
      if(choice STREQUAL "run")
        set(${out} TRUE PARENT_SCOPE)
      else()
        set(${out} FALSE PARENT_SCOPE)
      endif()
      list(LENGTH fields n)
      if(n GREATER 3 AND ARGC GREATER 2)
        list(GET fields 3 left_out)
        set(${ARGV2} "*-${left_out}" PARENT_SCOPE)
      endif()
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "test program ${target} is not placed in cmake/EmulatedTests.cmake")
endfunction()
