// The update definition: which drives this program updates, and with what.
#pragma once

// Fills the definition with the built-in entry; returns the number of entries.
int SetDefData();

// Copies entry k into the selected-entry fields and makes it the selected entry.
void SelectDefEntry(int k);

// Where the definition comes from. Tests and the simulator install a procedure that fills the
// tables (and gFwVer, gRefNum) after SetDefData has cleared them; the program itself never does.
// nullptr: the built-in definition.
void SetDefDataSource(void (*fill)());
