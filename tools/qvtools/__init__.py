"""Post-processing tools for quivel_vib8 runs: readers of every result file,
VTK export, plots, a run summary and a live monitor."""
