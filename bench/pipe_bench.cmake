# Pipe and trace benchmarks.
