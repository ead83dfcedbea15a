// Exported USB serial helpers.
