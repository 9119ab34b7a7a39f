// The update definition: which drives this program updates, and with what.
#pragma once

// Fills the definition with the built-in entry; returns the number of entries.
int SetDefData();

// Copies entry k into the selected-entry fields and makes it the selected entry.
void SelectDefEntry(int k);
