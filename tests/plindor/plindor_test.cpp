// The library's exported names, as the loader resolves them.
#include <dlfcn.h>

#include <string>

#include "plindor_fixture.h"

namespace {

const char* const kExports[] = {
    "CameraSensorI2C_Init", "CameraSensorI2C_DeInit", "CameraSensorI2C_Write", "CameraSensorI2C_Read",
    "CameraSensorI2C_Write_MultiCommands", "CameraSensorI2C_CopyCommand", "CameraSensorGPIO_ConfigParallelCamera",
    "CameraSensorGPIO_ConfigDefault", "CameraSensorGPIO_Out", "CameraSensorGPIO_In", "CameraSensorCLK_ConfigMclk",
    "CameraSensorCLK_UnConfigMclk", "CameraSensor_PowerOn", "CameraSensor_PowerOff", "Plindor_WaitMicroSeconds",
    "CameraDevmanRegister", "CameraDevmanDeregister", "CameraDevmanSetPerfLevel", "VantorInitBufferManager",
    "CameraPMEMMalloc", "CameraPMEMFree", "CameraPMEMGetPhysicalAddress", "VantorGetSnapshotVirtBuffer",
    "VantorGetJPEGVirtBuffer", "VantorGetActionScreenVirtBuffer", "vfe_config_clks_common", "vfe_unconfig_clks",
    "vfe_config_clks_sensor", "vfe_config_clks_testgen", "vfe_get_virtual_address", "vfe_init", "vfe_stop",
    "InitFlashLight", "PMICFlashLED_SetCurrent", "PMICFlashLED_SetMode", "CameraGetTime", "VantorUpdateTimeStamp",
    "VantorGetTimeStamp", "GetSnapshotStatus", "SetSnapshotStatus", "GetAutoFlashRequired", "SetAutoFlashRequired",
    "VantorIsCameraLTKRunning", "VantorIsCameraIOTest", "VantorSetIsCamOpen", "DiagMessageSend"};

TEST(PlindorExports, EveryExportResolvesByNameAndNothingInternalLeaks) {
  // The test links the library, so it is found by its soname.
  void* lib = dlopen("Plindor.dll", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(lib, nullptr) << dlerror();
  for (const char* name : kExports) EXPECT_NE(dlsym(lib, name), nullptr) << name;
  // Linked by its users: no loader entry point; the GPIO driver stays inside.
  for (const char* name : {"DllMain", "gpio_out", "gpio_in", "gpio_tlmm_config", "BMList_Init"})
    EXPECT_EQ(dlsym(lib, name), nullptr) << name;
  dlclose(lib);
}

}  // namespace
