"""The parts of the case generator: recipe, grid, body parameters, writer."""
