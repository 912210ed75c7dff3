// Tests of the parser: to be written.
