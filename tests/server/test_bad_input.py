"""Bad requests get a clear "error" and never bring the server down."""
import re
import socket
import unittest
import warnings

import msgpack

from support import ApiClient, image, params, samples_of, start_server

GOOD_IMAGE = image(2, 1, 3, 8, [1, 2, 3, 4, 5, 6])


def render_message(img=None, p=None, **overrides):
    message = {"method": "call_plugin", "method_version": 1, "function_name": "render",
               "request_id": "job-1", "plugin_id": "TestPlugin",
               "args": {"image": GOOD_IMAGE if img is None else img,
                        "params": params() if p is None else p}}
    message.update(overrides)
    return message


class BadInputTest(unittest.TestCase):
    def setUp(self):
        self.server = start_server(self, max_body=4096)
        self.client = ApiClient(self.server.address)
        self.addCleanup(self.client.close)

    def tearDown(self):
        # Whatever came before, the server still renders.
        client = ApiClient(self.server.address)
        try:
            self.assertEqual(client.render("after", GOOD_IMAGE, params(type=2)), {"status": "queued"})
            self.assertEqual(samples_of(client.wait_result("after")["result"]["result"]["image"]),
                             [1, 2, 3, 4, 5, 6])
        finally:
            client.close()

    def assert_error(self, body, *fragments):
        """The body is answered with HTTP 200 and an "error" holding every fragment."""
        status, reply = self.client.post(body if isinstance(body, bytes) else msgpack.packb(body))
        self.assertEqual(status, 200)
        self.assertEqual(set(reply), {"error"}, reply)
        for fragment in fragments:
            self.assertIn(fragment, reply["error"])
        self.assertIsNone(re.search(r":\s*\)|:\s*$", reply["error"]), f"empty detail: {reply['error']!r}")

    def test_bodies_that_are_not_one_messagepack_map(self):
        self.assert_error(b"", "empty")
        self.assert_error(b"\xc1", "not valid MessagePack")
        self.assert_error(b"\x82\xa6method", "not valid MessagePack")  # truncated
        self.assert_error(b"\xdd\xff\xff\xff\xff", "not valid MessagePack")  # absurd array length
        self.assert_error(msgpack.packb({"method": "open_tev_app"}) + b"\x00", "after")
        self.assert_error(msgpack.packb([1, 2]), "must be a map")
        self.assert_error(b"\x81\x01\xa1x", "not valid MessagePack")  # integer key
        self.assert_error(b"\xc1", "FormatError: a byte that starts no MessagePack value")
        self.assert_error(b"\x91" * 100 + b"\xc0", "deeper than 64 levels")

    def test_bodies_that_would_decode_into_too_many_objects(self):
        server = start_server(self, max_body=1 << 20)
        client = ApiClient(server.address)
        self.addCleanup(client.close)
        for body in (b"\xdd\x00\x03\x0d\x40" + b"\x90" * 200_000,  # 200 000 empty arrays
                     msgpack.packb({"method": "x", "junk": [{"a": i} for i in range(60_000)]})):
            status, reply = client.post(body)
            self.assertEqual(status, 200)
            self.assertIn("more than 100000 MessagePack values", reply["error"])

    def test_unknown_or_missing_method_and_function_are_named(self):
        self.assert_error({"request_id": "r"}, "lacks 'method'")
        self.assert_error({"method": 7}, "'method' must be a string")
        self.assert_error({"method": "frobnicate"}, "unknown method 'frobnicate'")
        self.assert_error(render_message(function_name="sharpen"), "unknown function 'sharpen'")
        self.assert_error(render_message(function_name=None), "lacks 'function_name'")
        self.assert_error({"method": "get_result"}, "lacks 'for_request_id'")
        self.assert_error({"method": "get_progress", "for_request_id": 5}, "must be a string")
        self.assert_error({"method": "get_result", "for_request_id": "nobody"}, "'nobody'")

    def test_render_args_with_missing_or_mistyped_entries(self):
        self.assert_error(render_message(request_id=None), "lacks 'request_id'")
        self.assert_error(render_message(args=[1]), "'args' must be a map")
        self.assert_error(render_message(args={"params": params()}), "lack 'image'")
        self.assert_error(render_message(args={"image": GOOD_IMAGE}), "lack 'params'")
        for key in ("brightness", "contrast", "saturation", "enable_effect", "type"):
            p = params()
            del p[key]
            self.assert_error(render_message(p=p), f"lack '{key}'")
        self.assert_error(render_message(p=params(brightness="high")), "'brightness' must be a number")
        self.assert_error(render_message(p=params(contrast=float("nan"))), "'contrast'", "finite")
        self.assert_error(render_message(p=params(enable_effect=1)), "'enable_effect' must be a boolean")
        self.assert_error(render_message(p=params(type=True)), "'type' must be an integer")
        self.assert_error(render_message(p=params(type=7)), "'type' is 7")
        self.assert_error(render_message(p=params(type=0)), "'type' is 0")

    def test_images_with_bad_geometry_or_pixels(self):
        def broken(**changes):
            img = dict(GOOD_IMAGE)
            img.update(changes)
            return {k: v for k, v in img.items() if v is not None}

        self.assert_error(render_message(img="picture"), "'image' must be a map")
        self.assert_error(render_message(img=broken(width=None)), "lacks 'width'")
        self.assert_error(render_message(img=broken(width=2.0)), "'width' must be an integer")
        self.assert_error(render_message(img=broken(channels=True)), "'channels' must be an integer")
        self.assert_error(render_message(img=broken(channels=5)), "'channels' is 5")
        self.assert_error(render_message(img=broken(height=-1)), "'height' is -1")
        # Zero sizes never reach the render (which cannot take them).
        self.assert_error(render_message(img=broken(width=0, pixels=b"")), "'width' is 0", "1..65535")
        self.assert_error(render_message(img=broken(height=0, pixels=b"")), "'height' is 0")
        self.assert_error(render_message(img=broken(channels=0, pixels=b"")), "'channels' is 0")
        self.assert_error(render_message(img=broken(bit_depth=12)), "'bit_depth' is 12")
        self.assert_error(render_message(img=broken(pixels=None)), "lacks 'pixels'")
        self.assert_error(render_message(img=broken(pixels=[1, 2, 3, 4, 5, 6])), "'pixels' must be bytes")
        self.assert_error(render_message(img=broken(pixels=b"\x00" * 5)), "holds 5 bytes", "need 6")
        self.assert_error(render_message(img=broken(bit_depth=16)), "holds 6 bytes", "need 12")
        self.assert_error(render_message(img=broken(bit_depth=32, pixels=b"\x00" * 24)), "'pixels_type'")
        self.assert_error(render_message(img=broken(pix_aspect_ratio="wide")), "'pix_aspect_ratio'")

    def test_parameters_that_overflow_are_refused_and_no_warning_is_printed(self):
        for key in ("brightness", "contrast", "saturation"):
            self.assert_error(render_message(p=params(**{key: 1e308})), "overflow the adjustment")
        # The same values with the effect off are no adjustment at all.
        self.assertEqual(self.client.render("off", GOOD_IMAGE, params(brightness=1e308, enable_effect=False)),
                         {"status": "queued"})
        self.client.wait_result("off")
        # Float frames: results past the float32 range are infinities, NaN passes, and no
        # numeric warning escapes (a warning turned error here would fail the job).
        img = image(4, 1, 3, 32, [3e38, 3e38, 3e38, float("nan"), 0.5, 0.5, -3e38, 0, 0, 1e-45, 1, 0.25])
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            self.client.render("big", img, params(brightness=1e5, contrast=2.0, saturation=1.5))
            out = samples_of(self.client.wait_result("big")["result"]["result"]["image"])
        self.assertEqual(out[:3], [float("inf")] * 3)
        self.assertTrue(all(x != x for x in out[3:6]), out)  # NaN spreads through the luma
        self.assertEqual(out[6], float("-inf"))

    def test_unserved_backend_is_refused_before_queueing(self):
        self.assert_error(render_message(p=params(type=5)), "Tensor(GPU) is not available")
        self.assert_error({"method": "get_result", "for_request_id": "job-1"}, "'job-1'")


class HttpLevelTest(unittest.TestCase):
    """Requests that are not a POST of a body to /api get an HTTP error status,
    still with a MessagePack {"error": ...} body."""

    def setUp(self):
        self.server = start_server(self, max_body=4096)

    def exchange(self, raw):
        with socket.create_connection(self.server.address, timeout=5) as sock:
            sock.sendall(raw)
            data = b""
            while chunk := sock.recv(65536):
                data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        return int(head.split()[1]), head, msgpack.unpackb(body)

    def test_wrong_paths_methods_and_framing(self):
        cases = [
            (b"POST /other HTTP/1.1\r\nContent-Length: 1\r\n\r\n\xc0", 404, "/other"),
            (b"GET /api HTTP/1.1\r\n\r\n", 405, "POST"),
            (b"POST /api HTTP/1.1\r\n\r\n", 411, "Content-Length"),
            (b"POST /api HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1\r\n\xc0\r\n0\r\n\r\n", 411, "chunked"),
            (b"POST /api HTTP/1.1\r\nContent-Length: x\r\n\r\n", 400, "Content-Length"),
            (b"POST /api HTTP/1.1\r\nContent-Length: 5000\r\n\r\n", 413, "4096"),
            (b"POST /api HTTP/1.1\r\nContent-Length: 5000\r\nExpect: 100-continue\r\n\r\n", 413, "5000"),
            (b"NONSENSE\r\n\r\n", 400, "HTTP 400"),
            (b"POST /api HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 7\r\n\r\n\xc0" * 7, 400,
             "appears 2 times"),
            (b"POST /api HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n\xc0", 400, "once"),
            (b"POST /api HTTP/1.1\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n\xc0", 400,
             "not both"),
            (b"POST /api HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n\xc0", 411, "'gzip'"),
            (b"POST /api HTTP/1.1\r\nContent-Length: +1\r\n\r\n\xc0", 400, "not a decimal"),
            (b"POST /api HTTP/1.1\r\nContent-Length: 1_0\r\n\r\n" + b"\xc0" * 10, 400, "not a decimal"),
            (b"POST /api HTTP/1.1\r\nX-Long: " + b"a" * 70000 + b"\r\n\r\n", 431, "Line too long"),
            (b"POST /api HTTP/1.1\r\n" + b"X-A: b\r\n" * 150 + b"\r\n", 431, "Too many headers"),
            (b"POST /" + b"a" * 70000 + b" HTTP/1.1\r\n\r\n", 414, "HTTP 414"),
        ]
        for raw, status, fragment in cases:
            with self.subTest(request=raw[:40]):
                got, head, body = self.exchange(raw)  # reads until the server closes
                self.assertEqual(got, status)
                self.assertIn(b"Content-Type: application/x-msgpack", head)
                self.assertIn(fragment, body["error"])
                self.assertRegex(body["error"], r"^HTTP \d+: \S")
        got, head, _ = self.exchange(b"DELETE /api HTTP/1.1\r\n\r\n")
        self.assertEqual(got, 405)
        self.assertIn(b"Allow: POST", head)

    def test_a_client_that_leaves_mid_body_costs_nothing(self):
        with socket.create_connection(self.server.address, timeout=5) as sock:
            sock.sendall(b"POST /api HTTP/1.1\r\nContent-Length: 4000\r\n\r\n" + b"\x00" * 100)
        client = ApiClient(self.server.address)
        self.addCleanup(client.close)
        self.assertEqual(client.call("open_tev_app"), {"result": {"ok": True}})


if __name__ == "__main__":
    unittest.main()
