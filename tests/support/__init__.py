"""What the test suites share: trajectories, the scipy oracle, the C-level method tables, XML
documents, points, child environments and the test-only native extensions."""
