// Tests of the runner: to be written.
