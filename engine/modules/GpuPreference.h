#pragma once

#include <string>

namespace pelorn {

// The per-user request to run the host program on the power-saving GPU: a
// string value named by the program's executable path, written when the
// engine library loads and deleted when it unloads. Registry failures are
// ignored.
constexpr char kGpuPreferenceKey[] = "SOFTWARE\\Microsoft\\DirectX\\UserGpuPreferences";
constexpr char kGpuPreferenceValue[] = "GpuPreference=1;";

// The executable path, cut to 259 characters as a 260-character buffer
// holds it.
std::string GpuPreferenceValueName();

void WriteGpuPreference();
void DeleteGpuPreference();

}  // namespace pelorn
