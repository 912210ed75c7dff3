// runner: to be written.
