"""Queued jobs: a board of jobs by request id, run by a pool of worker threads.

A job moves queued -> running -> done; an abort removes it from the board at
once (its result is never delivered) and the worker stops at its next check.
A delivered result leaves the board; an uncollected one is dropped after a while.
A request for the result of the only job on the board may wait a moment for it
to end (take_result's wait), so that it is answered as soon as it is done.

Each job holds bytes of the memory budget from its submission: its input frame
until the work ends, its result until it is delivered, dropped or aborted. The
pool's buffers a job holds (Loans) are released at the same moments: those of
its input (submit's holds) when the work ends, those its result lives in
(job.keep) once the result is sent, dropped or never made.
A job whose work raises ends with an error result that names the failure.
"""
import logging
import queue
import threading
import time

from .errors import RequestError, describe, one_line

log = logging.getLogger("tevserver.jobs")

QUEUED, RUNNING, DONE = "queued", "running", "done"


class JobAborted(Exception):
    """Raised inside a job's work by check_abort once the job was aborted."""


class Job:
    def __init__(self, job_id, work, input_bytes, result_bytes, holds=()):
        self.id = job_id
        self.work = work    # work(job) -> result map
        self.input_bytes = input_bytes    # budget held until the work ends
        self.result_bytes = result_bytes  # budget held until the result leaves the board
        self.state = QUEUED
        self.progress = 0
        self.result = None
        self.finished_at = None
        self.holds = list(holds)  # Loans the input lives in
        self.kept = []            # Loans the result lives in
        self.queued_at = time.monotonic()
        self._aborted = threading.Event()
        self.ended = threading.Event()  # set once the work has ended, whatever its outcome

    def report(self, percent):
        """Progress of the running work, 0..100; never goes back."""
        self.progress = max(self.progress, min(100, int(percent)))

    def keep(self, loan):
        """Ties a pool Loan to the job's result: released with it. Returns the loan."""
        self.kept.append(loan)
        return loan

    def check_abort(self):
        if self._aborted.is_set():
            raise JobAborted()

    def abort(self):
        self._aborted.set()


class JobBoard:
    def __init__(self, workers, max_jobs, result_ttl, budget):
        self._budget = budget
        self._jobs = {}
        self._lock = threading.Lock()
        self._queue = queue.Queue()
        self._max_jobs = max_jobs
        self._result_ttl = result_ttl
        self._running = 0
        self._workers = [threading.Thread(target=self._work_loop, name=f"tev-worker-{i}", daemon=True)
                         for i in range(workers)]
        for w in self._workers:
            w.start()

    def submit(self, job_id, work, input_bytes=0, result_bytes=0, hold=None):
        """Queues a job; False when a job with this id is already on the board
        (a repeated call, e.g. a client retrying after a lost reply, is not run twice).
        hold: a pool Loan the input lives in, held by the job until its work ends.
        RequestError when too many jobs wait, BudgetExceeded when their bytes do not fit."""
        with self._lock:
            self._purge_locked()
            if job_id in self._jobs:
                return False
            pending = sum(1 for j in self._jobs.values() if j.state != DONE)
            if pending >= self._max_jobs:
                raise RequestError(f"server busy: {pending} jobs already queued or running")
            self._budget.take(input_bytes + result_bytes, f"a job of {input_bytes} bytes and its result")
            job = Job(job_id, work, input_bytes, result_bytes, [hold.hold()] if hold is not None else ())
            self._jobs[job_id] = job
        self._queue.put(job)
        return True

    def take_result(self, job_id, wait=0.0):
        """(found, done, result, release). A done job's result is handed out once and leaves
        the board; release() gives its bytes back to the budget once the reply is sent.
        wait: seconds to wait for the job to end when it is the only one on the board."""
        with self._lock:
            self._purge_locked()
            job = self._jobs.get(job_id)
            if job is not None and job.state != DONE and wait > 0 and len(self._jobs) == 1:
                self._lock.release()
                try:
                    job.ended.wait(wait)
                finally:
                    self._lock.acquire()
                job = self._jobs.get(job_id)
            if job is None:
                return False, False, None, None
            if job.state != DONE:
                return True, False, None, None
            del self._jobs[job_id]
            held, job.result_bytes = job.result_bytes, 0
            kept, job.kept = job.kept, []
            result, job.result = job.result, None  # the reply holds it from here on

        def release():
            self._budget.give_back(held)
            for loan in kept:
                loan.release()
        return True, True, result, release

    def progress(self, job_id):
        """Percent done, or None for an unknown id."""
        with self._lock:
            job = self._jobs.get(job_id)
            return None if job is None else job.progress

    def abort(self, job_id):
        """Stops a job and drops its result; False for an unknown id."""
        with self._lock:
            job = self._jobs.pop(job_id, None)
            if job is not None and job.state == DONE:
                self._release_result_locked(job)
        if job is None:
            return False
        job.abort()
        log.info("job %s aborted (%s)", job_id, job.state)
        return True

    def busy(self):
        """True while any job waits or runs (collected or not)."""
        with self._lock:
            return self._running > 0 or any(j.state == QUEUED for j in self._jobs.values())

    def close(self):
        """Aborts everything and stops the workers (without waiting for a running block)."""
        with self._lock:
            jobs = list(self._jobs.values())
            self._jobs.clear()
        for job in jobs:
            job.abort()
        for _ in self._workers:
            self._queue.put(None)

    def _purge_locked(self):
        now = time.monotonic()
        stale = [k for k, j in self._jobs.items()
                 if j.state == DONE and now - j.finished_at > self._result_ttl]
        for k in stale:
            log.info("job %s: result never collected, dropped", k)
            self._release_result_locked(self._jobs.pop(k))

    def _release_result_locked(self, job):
        job.result = None
        self._budget.give_back(job.result_bytes)
        job.result_bytes = 0
        kept, job.kept = job.kept, []
        for loan in kept:
            loan.release()

    def _release_input(self, job):
        job.work = None  # lets the input frame go
        self._budget.give_back(job.input_bytes)
        job.input_bytes = 0
        holds, job.holds = job.holds, []
        for loan in holds:
            loan.release()

    def _work_loop(self):
        while True:
            job = self._queue.get()
            if job is None:
                return
            self._run(job)  # its locals, the result among them, end with it

    def _run(self, job):
        """Runs one job from the queue; a job aborted meanwhile is only let go."""
        try:
            self._run_work(job)
        finally:
            job.ended.set()

    def _run_work(self, job):
        with self._lock:
            if self._jobs.get(job.id) is not job:
                self._release_input(job)
                self._release_result_locked(job)
                return  # aborted while queued
            job.state = RUNNING
            self._running += 1
        started = time.monotonic()
        failed = False
        try:
            result = job.work(job)
        except JobAborted:
            log.info("job %s stopped at %d%%", job.id, job.progress)
            result = None
        except Exception as e:  # a job's fault must not take the worker down
            failed = True
            log.error("job %s failed: %s", job.id, describe(e))
            log.debug("job %s failed", job.id, exc_info=True)
            result = {"error": one_line(f"render failed: {describe(e)}")}  # the log has it whole
        self._release_input(job)
        with self._lock:
            self._running -= 1
            if self._jobs.get(job.id) is not job or result is None:
                self._release_result_locked(job)
                return
            if failed:  # an error text holds next to nothing
                self._release_result_locked(job)
            job.result = result
            job.progress = 100
            job.state = DONE
            job.finished_at = time.monotonic()
            if not failed:
                log.info("job %s done in %.1f ms (%.1f ms queued)", job.id,
                         (job.finished_at - started) * 1e3, (started - job.queued_at) * 1e3)
