// The small message of the benchmarks: one machine's state as real payloads carry it, a
// structure of ten members (DINT, LREAL, REAL, BOOL, STRING(20), TIME, DT, INT, UDINT,
// LINT) whose text is about 250 bytes.
#ifndef BENCH_SUPPORT_SMALLMESSAGE_H
#define BENCH_SUPPORT_SMALLMESSAGE_H

// The declaration of its type, ST_MachineState, for an application's declarations.
inline const char* const kMachineStateType = R"(
    TYPE ST_MachineState :
    STRUCT
        machineId : DINT;
        setpointTemperature : LREAL;
        fillLevel : REAL;
        running : BOOL;
        operatorName : STRING(20);
        cycleTime : TIME;
        lastChange : DT;
        operatingMode : INT;
        partsProduced : UDINT;
        totalEnergyWh : LINT;
    END_STRUCT
    END_TYPE
)";

#endif  // BENCH_SUPPORT_SMALLMESSAGE_H
