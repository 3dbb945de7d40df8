// The compiler of the declaration language (SimDeclParser.h describes the language and
// the model): the entry points that turn declaration text into a laid-out model and
// write its initial values. Stateless; any thread may call them.
#ifndef SIM_SIMDECLCOMPILER_H
#define SIM_SIMDECLCOMPILER_H

#include <cstdint>
#include <memory>
#include <string>

#include "SimDeclParser.h"

// Largest memory block an application may declare.
constexpr uint64_t kSimMaxMemory = uint64_t(1) << 30;

// Compiles declaration text; throws CSimDeclError. arrayPadding: bytes left between one
// array element and the next (as some runtimes lay arrays out), the stride then rounded
// up to the element's alignment; the array's size holds them.
std::unique_ptr<CSimModel> SimCompileDeclarations(const std::string& text, uint32_t arrayPadding = 0);

// Writes every variable's initial value (type defaults first, then the declared value)
// into a zero-filled block of model.memorySize bytes.
void SimWriteInitialValues(const CSimModel& model, uint8_t* memory);

#endif  // SIM_SIMDECLCOMPILER_H
