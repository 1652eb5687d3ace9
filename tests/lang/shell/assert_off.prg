* Without --assert, ASSERT lines are ignored.
ASSERT 1 = 2
? "ran"
