"""The core's rooms keep their arrows one way: a file includes only from its own room and the
rooms below it (host and robot are side by side and include neither the other)."""

import os
import re
import unittest

SOURCE = os.environ.get("VENTARI_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BELOW = {
    "game": set(),
    "turn": {"game"},
    "players": {"game", "turn"},
    "host": {"game", "turn", "players"},
    "robot": {"game", "turn", "players"},
}
INCLUDE = re.compile(r'^#include "core/([^/"]+)/[^"]+"', re.M)


class RoomsTest(unittest.TestCase):
    def test_every_include_of_the_core_goes_down_or_stays_in_its_room(self):
        core = os.path.join(SOURCE, "core")
        rooms = sorted(n for n in os.listdir(core) if os.path.isdir(os.path.join(core, n)))
        self.assertEqual(rooms, sorted(BELOW), "a room the arrows do not know of")
        loose = [n for n in os.listdir(core) if n.endswith((".cpp", ".h"))]
        self.assertEqual(loose, [], "core files outside a room are not built")
        wrong = []
        for room in rooms:
            for name in sorted(os.listdir(os.path.join(core, room))):
                with open(os.path.join(core, room, name), encoding="utf-8") as source:
                    for target in INCLUDE.findall(source.read()):
                        if target != room and target not in BELOW[room]:
                            wrong.append("core/%s/%s includes from core/%s" % (room, name, target))
        self.assertEqual(wrong, [])


if __name__ == "__main__":
    unittest.main()
