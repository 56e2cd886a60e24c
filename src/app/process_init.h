#pragma once

// The one explicit start-up of the process. The program's main and every test main call
// InitProcess before anything else; no subsystem relies on static initialisers whose order
// across files is unspecified.
void InitProcess();

// The exit routines, in reverse order of start-up. Called at the end of main.
void ShutdownProcess();
