// parser: to be written.
