// Exported command functions and the generic command entry.
