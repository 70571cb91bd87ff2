// Placeholder until the program subsystems land.
