'''The demo, run end to end as the README's first command runs it.'''

import re
import subprocess
import unittest

from testbed import PYTHON, REPO, timeout


class DemoTest(unittest.TestCase):

    def test_demo_keeps_every_step_in_step_and_exits_zero(self):
        try:
            run = subprocess.run([PYTHON, str(REPO / 'tools' / 'demo.py')],
                                 cwd=REPO, capture_output=True, text=True,
                                 timeout=timeout(60), check=False)
        except subprocess.TimeoutExpired as err:
            self.fail(f'the demo ran over a minute: {err.stdout}')
        report = f'\n--- demo output ---\n{run.stdout}{run.stderr}'
        steps = re.findall(r'^Step (\d+)/(\d+): ', run.stdout, re.M)
        verdicts = re.findall(r'^ *in step: (\w+)', run.stdout, re.M)
        self.assertTrue(steps, report)
        total = int(steps[0][1])
        self.assertEqual(len(steps), total, report)
        self.assertEqual(verdicts, ['yes'] * total, report)
        self.assertIn('exit status: 0\n', run.stdout, report)
        self.assertEqual(run.returncode, 0, report)


if __name__ == '__main__':
    unittest.main()
