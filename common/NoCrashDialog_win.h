#pragma once
// No "has stopped working" dialog for this process, whatever ends it.
// SEM_NOGPFAULTERRORBOX and an unhandled-exception filter only see ordinary
// exceptions; fail-fast faults (__fastfail, /GS and CFG failures, heap
// corruption) go straight to Windows Error Reporting, whose dialog would take
// the foreground (ending the show) or hold up the helper's end. Nothing is
// written to the registry: an exclusion there would cover every copy of the
// program, the saver's own included.
namespace lumora {

// False, with a line in the debug output, when Windows refused it.
bool NoCrashDialog();

}  // namespace lumora
