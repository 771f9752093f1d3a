// The processor and adapter probes of this machine: the portable decisions fed by the instruction
// and the registry.
#include "hwinfo/cpu_model.h"
#include "hwinfo/gpu_name.h"
#include "hwinfo/probes.h"

namespace {

const CpuSource kMachineCpu = {CpuIdSupported, CpuIdLeaf, ReadMachineRegistry};

}  // namespace

void GetCpuName(char* out) { GetCpuName(kMachineCpu, out); }
int GetCpuVendor(char* out) { return GetCpuVendor(kMachineCpu, out); }
void GetCpuModel(char* out) { GetCpuModel(kMachineCpu, out); }
int GetCpuSpeedReg() { return GetCpuSpeedReg(kMachineCpu); }
bool CpuHasMmx() { return CpuHasMmx(kMachineCpu); }
bool CpuHasSse() { return CpuHasSse(kMachineCpu); }
bool CpuHasSse2() { return CpuHasSse2(kMachineCpu); }
bool CpuHas3DNow() { return CpuHas3DNow(kMachineCpu); }
bool CpuHasHt() { return CpuHasHt(kMachineCpu); }

bool GetGpuName(char* out) { return GetGpuName(ReadMachineRegistry, out); }
