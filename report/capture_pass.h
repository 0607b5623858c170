// The capture pass: clears the store's identity texts, runs the collectors in their fixed order and
// trims what they captured.
#pragma once

// Runs once per process: the interface table relies on its zero start.
void RunCapturePass(void);
