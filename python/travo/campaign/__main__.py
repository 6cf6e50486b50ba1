"""``python -m travo.campaign``: see travo.campaign.cli."""

import sys

from travo.campaign.cli import main

if __name__ == "__main__":
    sys.exit(main())
