'''Seeded convergence scenarios (convergence.py) on a fixed set of seeds:
every change settles within its bound of calls, single-user scenarios end
with every channel as one channel alone would be, and the daemon survives
and exits 0.  The convergence suite (meson test --suite convergence) runs
thousands of seeds.
'''

import io
import unittest

import convergence
from testbed import Testbed

SEEDS = range(1, 161)
MODEL_SEEDS = range(1, 201)


class ConvergenceTest(unittest.TestCase):

    def test_fixed_seeds_settle_and_converge(self):
        out = io.StringIO()
        failed = convergence.run_seeds(SEEDS, shrink_budget=15, out=out)
        self.assertEqual([scenario.seed for scenario, *_ in failed], [],
                         out.getvalue())

    def test_model_agrees_with_a_camera_channel_alone(self):
        # The model check is only as good as the model: without a daemon,
        # one channel of the camera must follow it under every switch set.
        with Testbed() as tb:
            tb.start_bus()
            camera = tb.start_camera(1)
            for seed in MODEL_SEEDS:
                scenario = convergence.generate(seed)
                steps = tuple(step._replace(actions=tuple(
                    action._replace(channel=1) for action in step.actions))
                    for step in scenario.steps)
                camera.reset()
                camera.set_behaviour(scenario.behaviour)
                expected = convergence.replay(scenario._replace(steps=steps))
                for index, step in enumerate(steps):
                    for action in step.actions:
                        convergence.take(camera, action, step.burst)
                    if 'moving-head' in scenario.behaviour:
                        tb.wait_camera_done()  # the head gets there later
                    got = camera.state()['channels'][1]
                    self.assertEqual(
                        convergence.differ(expected[index], got), [],
                        f'{scenario.describe()}, step {index + 1}')


if __name__ == '__main__':
    unittest.main()
