"""The scripts of examples/ loaded as modules, without putting the folder on sys.path."""

import importlib.util
import sys
from pathlib import Path

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"


def load_example(name):
    """Import examples/<name>.py under the module name `name` (registered in
    sys.modules, as a plain import would do)."""
    module_spec = importlib.util.spec_from_file_location(name, EXAMPLES / (name + ".py"))
    module = importlib.util.module_from_spec(module_spec)
    sys.modules[name] = module
    try:
        module_spec.loader.exec_module(module)
    except BaseException:
        del sys.modules[name]
        raise
    return module
