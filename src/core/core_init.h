#pragma once

// Start-up of the core services, in their fixed order: the private heap, then the tables
// that cannot be built at compile time. Called once from the process start-up, before any
// other subsystem runs.
void CoreInitProcess();

// Releases what CoreInitProcess set up, the private heap with every block still in it.
void CoreShutdownProcess();
