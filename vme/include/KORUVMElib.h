/* Public C interface of libKORUVME: VME cycles, block transfers, interrupts
 * and the bridges' own resources over USB, PCI/PCIe optical cards, XDMA and
 * TCP links. A handle (0..99) names one open board. Every call returns a
 * signed 32-bit code: 0 success, -1 bus error, -2 communication error,
 * -3 generic error, -4 invalid parameter, -5 time-out, -6 already open,
 * -7 no free handle, -8 not supported. Text outputs must hold at least
 * KORUVME_TEXT_SIZE bytes. */
#ifndef KORUVMELIB_H
#define KORUVMELIB_H

#include <stdint.h>

#if defined(KORUVME_BUILDING_LIBRARY)
#define KORUVME_API __attribute__((visibility("default")))
#else
#define KORUVME_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    KORUVME_Success = 0,
    KORUVME_BusError = -1,
    KORUVME_CommError = -2,
    KORUVME_GenericError = -3,
    KORUVME_InvalidParam = -4,
    KORUVME_Timeout = -5,
    KORUVME_AlreadyOpen = -6,
    KORUVME_NoFreeHandle = -7,
    KORUVME_NotSupported = -8
};

#define KORUVME_MAX_HANDLES 100
#define KORUVME_TEXT_SIZE 32

/* Data widths: the low four bits are the bytes per transfer; 16 marks the
 * byte-swapped forms. */
enum {
    KORUVME_D8 = 1,
    KORUVME_D16 = 2,
    KORUVME_D32 = 4,
    KORUVME_D64 = 8,
    KORUVME_D16_swapped = 18,
    KORUVME_D32_swapped = 20,
    KORUVME_D64_swapped = 24
};

/* Interrupt levels of KORUVME_IACKCycle and the interrupt masks. */
enum {
    KORUVME_IRQ1 = 1,
    KORUVME_IRQ2 = 2,
    KORUVME_IRQ3 = 4,
    KORUVME_IRQ4 = 8,
    KORUVME_IRQ5 = 16,
    KORUVME_IRQ6 = 32,
    KORUVME_IRQ7 = 64
};

/* The bridge's display of the last bus cycle. Flags are -1 when set. */
typedef struct BridgeDisplay {
    uint64_t address;
    uint64_t data;
    uint64_t am;
    uint64_t irq;
    int32_t flags[11];
} BridgeDisplay;

/* Handles and the library */
KORUVME_API int32_t KORUVME_Init2(uint32_t boardType, const void *linkArg, int16_t boardNumber,
                                  int32_t *handle);
KORUVME_API int32_t KORUVME_Init(uint32_t boardType, int16_t link, int16_t boardNumber, int32_t *handle);
KORUVME_API int32_t KORUVME_End(int32_t handle);
KORUVME_API const char *KORUVME_DecodeError(int32_t code);
KORUVME_API int32_t KORUVME_SWRelease(char *text);
KORUVME_API int32_t KORUVME_BoardFWRelease(int32_t handle, char *text);
KORUVME_API int32_t KORUVME_DriverRelease(int32_t handle, char *text);
KORUVME_API int32_t KORUVME_DeviceReset(int32_t handle);
KORUVME_API int32_t _KORUVME_OpticalLinkSlaveReset(int32_t handle);
KORUVME_API int32_t KORUVME_SystemReset(int32_t handle);

/* VME cycles */
KORUVME_API int32_t KORUVME_ReadCycle(int32_t handle, uint32_t address, void *data, int32_t am,
                                      int32_t width);
KORUVME_API int32_t KORUVME_WriteCycle(int32_t handle, uint32_t address, const void *data, int32_t am,
                                       int32_t width);
KORUVME_API int32_t KORUVME_RMWCycle(int32_t handle, uint32_t address, void *data, int32_t am, int32_t width);
KORUVME_API int32_t KORUVME_ADOCycle(int32_t handle, uint32_t address, int32_t am);
KORUVME_API int32_t KORUVME_ADOHCycle(int32_t handle, uint32_t address, int32_t am);
KORUVME_API int32_t KORUVME_IACKCycle(int32_t handle, int32_t level, void *vector, int32_t width);
KORUVME_API int32_t KORUVME_MultiRead(int32_t handle, const uint32_t *addresses, uint32_t *data,
                                      int32_t count, const int32_t *ams, const int32_t *widths,
                                      int32_t *errors);
KORUVME_API int32_t KORUVME_MultiWrite(int32_t handle, const uint32_t *addresses, const uint32_t *data,
                                       int32_t count, const int32_t *ams, const int32_t *widths,
                                       int32_t *errors);
KORUVME_API int32_t KORUVME_BLTReadCycle(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                         int32_t am, int32_t width, int32_t *count);
KORUVME_API int32_t KORUVME_FIFOBLTReadCycle(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                             int32_t am, int32_t width, int32_t *count);
KORUVME_API int32_t KORUVME_MBLTReadCycle(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                          int32_t am, int32_t *count);
KORUVME_API int32_t KORUVME_FIFOMBLTReadCycle(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                              int32_t am, int32_t *count);
KORUVME_API int32_t KORUVME_BLTWriteCycle(int32_t handle, uint32_t address, const void *buffer, int32_t size,
                                          int32_t am, int32_t width, int32_t *count);
KORUVME_API int32_t KORUVME_FIFOBLTWriteCycle(int32_t handle, uint32_t address, const void *buffer,
                                              int32_t size, int32_t am, int32_t width, int32_t *count);
KORUVME_API int32_t KORUVME_MBLTWriteCycle(int32_t handle, uint32_t address, const void *buffer, int32_t size,
                                           int32_t am, int32_t *count);
KORUVME_API int32_t KORUVME_FIFOMBLTWriteCycle(int32_t handle, uint32_t address, const void *buffer,
                                               int32_t size, int32_t am, int32_t *count);
KORUVME_API int32_t KORUVME_BLTReadAsync(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                         int32_t am, int32_t width);
KORUVME_API int32_t KORUVME_FIFOBLTReadAsync(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                             int32_t am, int32_t width);
KORUVME_API int32_t KORUVME_BLTReadWait(int32_t handle, int32_t *count);
KORUVME_API int32_t KORUVME_IRQEnable(int32_t handle, uint32_t mask);
KORUVME_API int32_t KORUVME_IRQDisable(int32_t handle, uint32_t mask);
KORUVME_API int32_t KORUVME_IRQWait(int32_t handle, uint32_t mask, uint32_t timeout);

/* Bridge registers, I/O, pulsers, location monitor, display, bus settings */
KORUVME_API int32_t KORUVME_ReadRegister(int32_t handle, uint16_t reg, uint32_t *value);
KORUVME_API int32_t KORUVME_WriteRegister(int32_t handle, uint16_t reg, uint32_t value);
KORUVME_API int32_t KORUVME_IRQCheck(int32_t handle, uint8_t *mask);
KORUVME_API int32_t KORUVME_SetPulserConf(int32_t handle, int32_t pulser, uint8_t valueA, uint8_t valueB,
                                          int32_t codeU, uint8_t countN, int32_t startSource,
                                          int32_t stopSource);
KORUVME_API int32_t KORUVME_GetPulserConf(int32_t handle, int32_t pulser, uint8_t *valueA, uint8_t *valueB,
                                          int32_t *codeU, uint8_t *countN, int32_t *startSource,
                                          int32_t *stopSource);
KORUVME_API int32_t KORUVME_StartPulser(int32_t handle, int32_t pulser);
KORUVME_API int32_t KORUVME_StopPulser(int32_t handle, int32_t pulser);
KORUVME_API int32_t KORUVME_SetOutputConf(int32_t handle, int32_t output, int32_t flag, int32_t secondFlag,
                                          int32_t source);
KORUVME_API int32_t KORUVME_GetOutputConf(int32_t handle, int32_t output, int32_t *flag, int32_t *secondFlag,
                                          int32_t *source);
KORUVME_API int32_t KORUVME_SetInputConf(int32_t handle, int32_t input, int32_t value, int32_t flag);
KORUVME_API int32_t KORUVME_GetInputConf(int32_t handle, int32_t input, int32_t *value, int32_t *flag);
KORUVME_API int32_t KORUVME_SetOutputRegister(int32_t handle, uint16_t mask);
KORUVME_API int32_t KORUVME_ClearOutputRegister(int32_t handle, uint16_t mask);
KORUVME_API int32_t KORUVME_PulseOutputRegister(int32_t handle, uint16_t mask);
KORUVME_API int32_t KORUVME_SetLocationMonitor(int32_t handle, uint32_t address, int32_t am, int32_t flag1,
                                               int32_t flag2, int32_t flag3);
KORUVME_API int32_t KORUVME_ReadDisplay(int32_t handle, BridgeDisplay *display);
KORUVME_API int32_t KORUVME_SetArbiterType(int32_t handle, int32_t value);
KORUVME_API int32_t KORUVME_SetRequesterType(int32_t handle, int32_t value);
KORUVME_API int32_t KORUVME_SetReleaseType(int32_t handle, int32_t value);
KORUVME_API int32_t KORUVME_SetBusReqLevel(int32_t handle, int32_t value);
KORUVME_API int32_t KORUVME_SetTimeout(int32_t handle, int32_t value);
KORUVME_API int32_t KORUVME_GetArbiterType(int32_t handle, int32_t *value);
KORUVME_API int32_t KORUVME_GetRequesterType(int32_t handle, int32_t *value);
KORUVME_API int32_t KORUVME_GetReleaseType(int32_t handle, int32_t *value);
KORUVME_API int32_t KORUVME_GetBusReqLevel(int32_t handle, int32_t *value);
KORUVME_API int32_t KORUVME_GetTimeout(int32_t handle, int32_t *value);
KORUVME_API int32_t KORUVME_SetFIFOMode(int32_t handle, int16_t mode);
KORUVME_API int32_t KORUVME_GetFIFOMode(int32_t handle, int16_t *mode);

/* Scalers: the first generation (board types 0, 1, 5, 6) */
KORUVME_API int32_t KORUVME_SetScalerConf(int32_t handle, int16_t limit, int16_t secondValue, int32_t sourceA,
                                          int32_t sourceB, int32_t sourceC);
KORUVME_API int32_t KORUVME_GetScalerConf(int32_t handle, int16_t *limit, int16_t *secondValue,
                                          int32_t *sourceA, int32_t *sourceB, int32_t *sourceC);
KORUVME_API int32_t KORUVME_EnableScalerGate(int32_t handle);
KORUVME_API int32_t KORUVME_DisableScalerGate(int32_t handle);
KORUVME_API int32_t KORUVME_ResetScalerCount(int32_t handle);

/* Scalers: the second generation */
KORUVME_API int32_t KORUVME_SetScaler_InputSource(int32_t handle, int32_t value);
KORUVME_API int32_t KORUVME_GetScaler_InputSource(int32_t handle, int32_t *value);
KORUVME_API int32_t KORUVME_SetScaler_GateSource(int32_t handle, int32_t value);
KORUVME_API int32_t KORUVME_GetScaler_GateSource(int32_t handle, int32_t *value);
KORUVME_API int32_t KORUVME_SetScaler_ClearSource(int32_t handle, int32_t value);
KORUVME_API int32_t KORUVME_GetScaler_ClearSource(int32_t handle, int32_t *value);
KORUVME_API int32_t KORUVME_SetScaler_StartSource(int32_t handle, int32_t value);
KORUVME_API int32_t KORUVME_GetScaler_StartSource(int32_t handle, int32_t *value);
KORUVME_API int32_t KORUVME_SetScaler_Mode(int32_t handle, int32_t value);
KORUVME_API int32_t KORUVME_GetScaler_Mode(int32_t handle, int32_t *value);
KORUVME_API int32_t KORUVME_SetScaler_ContinuousRun(int32_t handle, int32_t value);
KORUVME_API int32_t KORUVME_GetScaler_ContinuousRun(int32_t handle, int32_t *value);
KORUVME_API int32_t KORUVME_SetScaler_MaxHits(int32_t handle, uint16_t value);
KORUVME_API int32_t KORUVME_GetScaler_MaxHits(int32_t handle, uint16_t *value);
KORUVME_API int32_t KORUVME_SetScaler_DWellTime(int32_t handle, uint16_t value);
KORUVME_API int32_t KORUVME_GetScaler_DWellTime(int32_t handle, uint16_t *value);
KORUVME_API int32_t KORUVME_SetScaler_SWStart(int32_t handle);
KORUVME_API int32_t KORUVME_SetScaler_SWStop(int32_t handle);
KORUVME_API int32_t KORUVME_SetScaler_SWReset(int32_t handle);
KORUVME_API int32_t KORUVME_SetScaler_SWOpenGate(int32_t handle);
KORUVME_API int32_t KORUVME_SetScaler_SWCloseGate(int32_t handle);

/* Flash pages (264 bytes on the older page protocol, 256 on SPI flashes) */
KORUVME_API int32_t KORUVME_WriteFlashPage(int32_t handle, const uint8_t *data, int32_t page);
KORUVME_API int32_t KORUVME_ReadFlashPage(int32_t handle, uint8_t *data, int32_t page);
KORUVME_API int32_t KORUVME_EraseFlashPage(int32_t handle, int32_t page);

#ifdef __cplusplus
}
#endif

#endif
