import subprocess
import sys
import textwrap

import numpy as np
import pandas as pd
import pytest

from orvalen import deg


def test_sample_to_group_dict():
    d = deg.get_sample_to_group_dict(["s2", "s1", "s2", "s1"], ["B", "A", "B", "A"])
    assert d == {"s1": "A", "s2": "B"} and list(d) == ["s1", "s2"]
    assert all(isinstance(k, np.str_) for k in d)
    assert deg.get_sample_to_group_dict(["s1", "s1"], ["A", "B"]) == {"s1": "A"}
    assert deg.get_sample_to_group_dict([], []) == {}
    assert list(deg.get_sample_to_group_dict([10, 2, 10], ["x", "y", "z"]).items()) == [(2, "y"), (10, "x")]
    obs = pd.DataFrame({"sample": ["b", "a", "b", "c"], "condition": ["T", "R", "T", "R"]})
    assert deg.get_sample_to_group_dict(obs["sample"], obs["condition"]) == {"a": "R", "b": "T", "c": "R"}


def test_sample_to_group_errors():
    with pytest.raises(IndexError):
        deg.get_sample_to_group_dict(["a", "b", "c"], ["x", "y"])
    with pytest.raises(TypeError):
        deg.get_sample_to_group_dict(np.array(["a", 1], dtype=object), ["x", "y"])
    with pytest.raises(TypeError):
        deg.get_sample_to_group_dict(["a"])


def test_sample_to_group_map_uses_current_binding(monkeypatch):
    args = (["s2", "s1"], ["B", "A"])
    assert deg.get_sample_to_group_map(*args) == deg.get_sample_to_group_dict(*args)
    monkeypatch.setattr(deg, "get_sample_to_group_dict", lambda s, c: ("patched", list(s)))
    assert deg.get_sample_to_group_map(*args) == ("patched", ["s2", "s1"])


def _load_flag(blocker):
    code = textwrap.dedent(f"""
        import sys
        class Blocker:
            def find_spec(self, name, path=None, target=None):
                if name.split(".")[0] == "adjustText":
                    {blocker}
                return None
        sys.meta_path.insert(0, Blocker())
        sys.modules.pop("adjustText", None)
        from orvalen import deg
        print(deg.ADJUST_TEXT, hasattr(deg, "adjust_text"))
    """)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr
    return out.stdout.split()


@pytest.mark.parametrize("blocker", ['raise ImportError("blocked")', 'raise RuntimeError("broken install")'])
def test_adjust_text_flag_without_the_library(blocker):
    assert _load_flag(blocker) == ["False", "False"]


def test_adjust_text_flag_with_the_library():
    pytest.importorskip("adjustText")
    assert _load_flag("pass") == ["True", "True"]
    import adjustText

    assert deg.ADJUST_TEXT is True and deg.adjust_text is adjustText.adjust_text
