"""python3 -m tevserver: the command line (cli.py)."""
import sys

from .cli import main

sys.exit(main())
