// The process's multithreaded apartment, held open by a thread of its own.
#pragma once

// Threads that open no apartment of their own then belong to it implicitly, so that a test can
// register cameras from the main thread before and after a window under test opens its own
// apartment there, while that window's CoInitialize still answers S_OK as in the program.
bool HoldMultithreadedApartment();
