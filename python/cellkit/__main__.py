"""`python -m cellkit`: the cellkit command."""

import sys

from .cli import main

sys.exit(main())
