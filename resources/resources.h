// The program's resources (strings, menu, accelerators, About dialog, icons
// and the wave table) as data in the module's resource tables.
#pragma once

// Registers them with the platform's resource tables. Call it once before
// WinMain; calling it again changes nothing.
void RegisterProgramResources();
// The wave table alone (part of the above).
void RegisterWaveResources();
