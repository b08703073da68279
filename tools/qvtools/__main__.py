"""Allows `python3 -m qvtools` (with tools/ on the path)."""
import sys

from .cli import main

sys.exit(main())
