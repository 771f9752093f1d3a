// The hardware probes of this machine, as the hardware profile calls them. Each returns a text or a
// number and never fails: a probe that cannot read its source gives its fixed fallback. Windows only;
// the decisions behind them are in cpu_identify.h, cpu_model.h, gpu_name.h, gpu_classify.h and
// directx_version.h.
#pragma once

#include <cstdint>

#include "hwinfo/cpu_identify.h"
#include "hwinfo/file_version.h"
#include "hwinfo/gpu_classify.h"
#include "hwinfo/registry_source.h"

bool CpuIdSupported();
CpuIdRegs CpuIdLeaf(uint32_t leaf);  // issues the instruction; callers check CpuIdSupported first

void GetCpuName(char* out);
int GetCpuVendor(char* out);
void GetCpuModel(char* out);
int GetCpuSpeedReg();
bool CpuHasMmx();
bool CpuHasSse();
bool CpuHasSse2();
bool CpuHas3DNow();
bool CpuHasHt();

bool GetGpuName(char* out);

// The registry reader of the probes: HKEY_LOCAL_MACHINE, keys opened with KEY_QUERY_VALUE.
RegRead ReadMachineRegistry(const char* key, const char* value, void* out, uint32_t capacity, uint32_t* size);

// Status as an HRESULT: 0 (S_OK), E_INVALIDARG for a null argument, E_OUTOFMEMORY when the version
// buffer cannot be had, E_FAIL for a file without a readable version.
int32_t GetFileVersion(const char* path, FileVersion* out);

int GetDirectXVersion();
// The same steps against another directory, for a folder of test files. A null dir gives 0.
int GetDirectXVersionIn(const char* system_dir);
