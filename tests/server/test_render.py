"""The render function: the adjustment at 8, 16 and 32 bits against values computed
here independently, the unchanged paths, the unserved backends and the reply's form."""
import math
import sys
import time
import unittest

import msgpack
import numpy as np

from support import (SERVER_SRC, ApiClient, RenderOptions, expected_samples, image, params, samples_of,
                     start_server)

# Covers black, white, mid-grey, saturated colours and values that clip at both ends.
SAMPLES_8 = [0, 0, 0, 255, 255, 255, 128, 128, 128, 200, 30, 90, 10, 250, 120, 64, 0, 255]
SAMPLES_16 = [0, 0, 0, 32768, 32768, 32768, 16384, 16384, 16384, 30000, 2000, 9000, 40000, 100, 20000,
              7, 65535, 12345]
SAMPLES_32 = [0.0, 0.0, 0.0, 1.0, 1.0, 1.0, 0.5, 0.5, 0.5, 0.8, 0.1, 0.35, 2.5, -0.25, 0.6,
              0.001, 0.999, 0.5]
ADJUSTED = params(brightness=1.3, contrast=1.4, saturation=0.6, type=1)


class RenderTest(unittest.TestCase):
    def setUp(self):
        self.server = start_server(self)
        self.client = ApiClient(self.server.address)
        self.addCleanup(self.client.close)
        self.jobs = 0

    def render(self, img, p):
        self.jobs += 1
        job_id = f"job-{self.jobs}"
        self.assertEqual(self.client.render(job_id, img, p), {"status": "queued"})
        reply = self.client.wait_result(job_id)
        self.assertNotIn("error", reply)
        return reply["result"]["result"]["image"]

    def assert_adjusted(self, width, height, channels, depth, samples, p):
        img = image(width, height, channels, depth, samples)
        out = self.render(img, p)
        want = expected_samples(samples_of(img), channels, depth, p)  # floats as sent: float32
        got = samples_of(out)
        self.assertEqual(len(got), len(want))
        for i, (g, w) in enumerate(zip(got, want)):
            if not (g == w or (math.isnan(g) and math.isnan(w))):
                self.fail(f"{depth}-bit sample {i}: got {g}, expected {w}")
        return out

    def test_adjusts_8_bit_frames_with_rounding_and_clipping(self):
        self.assert_adjusted(3, 2, 3, 8, SAMPLES_8, ADJUSTED)
        out = self.assert_adjusted(3, 2, 3, 8, SAMPLES_8, params(brightness=2.0, contrast=3.0, saturation=2.0))
        self.assertIn(0, samples_of(out))
        self.assertIn(255, samples_of(out))

    def test_adjusts_16_bit_frames_within_0_to_32768(self):
        out = self.assert_adjusted(2, 3, 3, 16, SAMPLES_16, ADJUSTED)
        self.assertLessEqual(max(samples_of(out)), 32768)
        self.assertIn(32768, samples_of(out))

    def test_adjusts_32_bit_frames_without_clipping(self):
        out = self.assert_adjusted(6, 1, 3, 32, SAMPLES_32, ADJUSTED)
        got = samples_of(out)
        self.assertGreater(max(got), 1.0)
        self.assertLess(min(got), 0.0)

    def test_frames_whose_channels_do_not_mix_get_the_same_adjustment(self):
        # Saturation 1: every sample value by itself, through the server's per-value tables.
        for depth, values in ((8, list(range(256))), (16, list(range(0, 65536, 97)) + [32768, 65535])):
            for channels in (3, 4):
                samples = (values * channels)[:len(values) // channels * channels + channels]
                if len(samples) // channels % 2 == 0:
                    samples += samples[:channels]  # an odd count of samples in all
                for p in (params(brightness=1.3, contrast=1.4), params(brightness=0.7, contrast=0.6)):
                    with self.subTest(depth=depth, channels=channels, params=p):
                        self.assert_adjusted(len(samples) // channels, 1, channels, depth, samples, p)

    def test_every_cpu_type_gives_the_same_adjustment(self):
        for kind in (1, 3, 4):
            with self.subTest(type=kind):
                self.assert_adjusted(3, 2, 3, 8, SAMPLES_8, dict(ADJUSTED, type=kind))

    def test_alpha_is_kept_and_grey_frames_ignore_saturation(self):
        rgba = [200, 30, 90, 17, 10, 250, 120, 255]
        out = self.assert_adjusted(2, 1, 4, 8, rgba, ADJUSTED)
        self.assertEqual(samples_of(out)[3::4], [17, 255])
        self.assert_adjusted(4, 1, 1, 16, [0, 100, 16384, 32768], ADJUSTED)

    def test_blocks_of_rows_cover_the_whole_frame(self):
        server = start_server(self, render_options=RenderOptions(block_samples=9))
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        samples = [(i * 37) % 256 for i in range(5 * 7 * 3)]
        client.render("blocks", image(5, 7, 3, 8, samples), ADJUSTED)
        out = client.wait_result("blocks")["result"]["result"]["image"]
        self.assertEqual(samples_of(out), expected_samples(samples, 3, 8, ADJUSTED))

    def test_disabled_effect_and_type_2_return_the_frame_unchanged(self):
        for depth, samples in ((8, SAMPLES_8), (16, SAMPLES_16), (32, SAMPLES_32)):
            img = image(3, 2, 3, depth, samples)
            for p in (dict(ADJUSTED, enable_effect=False), dict(ADJUSTED, type=2),
                      dict(ADJUSTED, type=5, enable_effect=False)):
                with self.subTest(depth=depth, params=p):
                    self.assertEqual(self.render(img, p)["pixels"], img["pixels"])

    def test_unserved_backends_are_named_in_the_error(self):
        img = image(3, 2, 3, 8, SAMPLES_8)
        for kind, name in ((5, "Tensor(GPU)"), (6, "Torch(MPS)")):
            reply = self.client.render(f"gpu-{kind}", img, dict(ADJUSTED, type=kind))
            self.assertEqual(set(reply), {"error"})
            self.assertIn(name, reply["error"])
            self.assertIn("not available", reply["error"])

    def test_reply_image_is_canonical_with_one_bin_and_float64_ratios(self):
        img = image(6, 1, 3, 32, SAMPLES_32)
        img["pix_aspect_ratio"] = 0.9
        img["downsample"] = 0.5
        self.client.render("form", img, ADJUSTED)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:  # raw bytes of the finished get_result reply
            body = msgpack.packb({"method": "get_result", "for_request_id": "form", "request_id": "p"})
            self.client.conn.request("POST", "/api", body=body)
            response = self.client.conn.getresponse()
            raw_status, raw = response.status, response.read()
            if msgpack.unpackb(raw) != {"result": {"result": "no_result_found"}}:
                break
            time.sleep(0.005)
        self.assertEqual(raw_status, 200)
        self.assertIn(b"\xb0pix_aspect_ratio\xcb", raw)  # float 64, never float 32
        self.assertIn(b"\xaadownsample\xcb", raw)
        out = msgpack.unpackb(raw)["result"]["result"]["image"]
        self.assertEqual({k: v for k, v in out.items() if k != "pixels"}, {
            "TEV_Dict_Type": "Image", "width": 6, "height": 1, "channels": 3, "bit_depth": 32,
            "pix_aspect_ratio": 0.9, "rowbytes": img["rowbytes"], "downsample": 0.5,
            "pixels_type": "float"})
        self.assertIsInstance(out["pixels"], bytes)
        self.assertEqual(len(out["pixels"]), 6 * 3 * 4)

    def test_frame_sized_replies_arrive_whole(self):
        width, height = 640, 360
        samples = [(i * 7919) % 256 for i in range(width * height * 3)]
        out = self.render(image(width, height, 3, 8, samples), ADJUSTED)
        self.assertEqual(samples_of(out), expected_samples(samples, 3, 8, ADJUSTED))


class BoxBlurTest(unittest.TestCase):
    """The example's blur (server/examples/box_blur.py): its integer windows summed by
    doubling equal the plain mean of every (2r+1)^2 neighbourhood, edges repeated, in
    blocks of any height."""

    def test_integer_frames_get_the_plain_mean_in_blocks_of_any_height(self):
        sys.path.insert(0, str(SERVER_SRC / "examples"))
        self.addCleanup(sys.path.remove, str(SERVER_SRC / "examples"))
        from box_blur import BLUR
        rng = np.random.default_rng(11)
        for depth, kind, high in ((8, np.uint8, 256), (16, np.uint16, 65536)):
            for radius in (1, 3, 8, 13):
                src = rng.integers(0, high, (9, 14, 3)).astype(kind)
                padded = np.pad(src.astype(np.float64), ((radius,) * 2, (radius,) * 2, (0, 0)), mode="edge")
                sums = sum(padded[i:i + 9, j:j + 14] for i in range(2 * radius + 1) for j in range(2 * radius + 1))
                want = np.rint(sums / (2 * radius + 1) ** 2).astype(kind)
                for rows in (1, 4, 9):
                    got = np.empty_like(src)
                    for top in range(0, 9, rows):
                        BLUR.rows(src, got, top, min(9, top + rows), {"radius": radius}, depth)
                    self.assertTrue(np.array_equal(got, want), (depth, radius, rows))


if __name__ == "__main__":
    unittest.main()
