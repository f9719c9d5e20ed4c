import json
import os
import select
import subprocess
import tempfile
import time
import unittest

from listener import LISTENER, parsed, request, run_lines

FAILED = {"id": "e", "ok": False, "error": {"code": "calendar_failed", "message": "EventKit query failed."}}


def ev(title, start, **fields):
    """A world-file event; `title` None leaves the key out, and with it the title."""
    event = {"startsInMinutes": start, **fields}
    if title is not None:
        event["title"] = title
    return event


def obj(title, start, end, **fields):
    """An expected calendar event object; times are minutes after the listener read the calendar."""
    event = {"eventId": None, "title": title, "startsAtEpoch": start, "endsAtEpoch": end, "organizer": None,
             "attendees": [], "acceptedCount": 0, "location": None, "joinUrl": None, "calendar": None,
             "calendarColor": None}
    event.update(fields)
    return event


def work(color):
    return {"title": "Work", "color": color}


# In the store's order, which is not the order of their starts.
WORLD_EVENTS = [
    ev("Untimed", "nan", endsInMinutes="nan", calendar=work([0.5, 1.0])),
    ev("HTML", 30, notes='<p><a href="https://teams.microsoft.com/l/meetup-join/x?c=1">Join</a></p>',
       calendar=work([1.2, -0.1, 0.999, 1.0])),
    ev("Standup", 10, endsInMinutes=25, id="standup-1", location="Room 4",
       notes="Join: https://zoom.us/j/1), see you",
       organizer={"name": "Ada", "status": "accepted"},
       attendees=[{"name": "Bob", "status": "accepted"}, {"status": "accepted"}, {"name": " ", "status": "declined"},
                  {"name": "Zo\u00eb", "status": "tentative"}, {"name": None, "status": "pending"}],
       calendar=work([0.2, 0.4, 0.6, 1.0])),
    ev("Offsite", 5, allDay=True, notes="https://zoom.us/j/0"),
    ev(None, 5),
    {"title": None, "startsInMinutes": 5},
    ev("", 5),
    ev(" \u3000\t\u00a0", 5),
    ev("  Padded title ", 10, id="  ", url="https://meet.google.com/abc-defg-hij", location="https://zoom.us/j/2",
       calendar={"title": "", "color": [0.5]}),
    ev("Later candidate", 30, notes="Docs https://example.com/a then https://acme.webex.com/meet/ada.",
       calendar=work([0.5, 1.0])),
    ev("Angle", 20, location="<https://meet.google.com/xyz>", calendar=work([0.2, 0.4, 0.6])),
    ev("Capitals", 40, notes="HTTPS://zoom.us/j/3 https://ZOOM.US/j/4 http://zoom.us/j/5",
       calendar=work([0.2, 0.4, 0.6, 1.0, 0.5])),
    ev("Path domain", 50, url="https://example.com/redirect/zoom.us/j/6", calendar=work(["nan", 0.5, 1.0])),
    ev("No colour", 60, calendar={"title": "Home", "color": None}),
    ev("No components", 60, calendar={"title": "Home", "color": {"components": None}}),
    ev("Empty components", 60, calendar={"title": "Home", "color": []}),
    ev("Bare", -30, endsInMinutes=-10, organizer={"name": " "}, attendees=None, location=" "),
    ev("Query link", 70, notes="https://example.com/r?next=https://zoom.us/j/7&x=1 end"),
    ev("Unicode end", 80, notes="https://gotomeeting.com/join/8\u00a0(GoTo) https://zoom.us/j/9"),
    ev("Half colour", 90, calendar=work([2.5 / 255, 0.5 / 255, 254.5 / 255])),
    ev("Later than 12 hours", 12 * 60 + 5),
    ev("Ended", -120, endsInMinutes=-65),
]

EXPECTED_EVENTS = [
    obj("Bare", -30, -10),
    obj("Standup", 10, 25, eventId="standup-1", organizer="Ada", attendees=["Bob", "Zo\u00eb"], acceptedCount=2,
        location="Room 4", joinUrl="https://zoom.us/j/1", calendar="Work", calendarColor="#336699"),
    obj("  Padded title ", 10, 40, location="https://zoom.us/j/2", joinUrl="https://meet.google.com/abc-defg-hij",
        calendar="", calendarColor="#808080"),
    obj("Angle", 20, 50, location="<https://meet.google.com/xyz>", joinUrl="https://meet.google.com/xyz",
        calendar="Work", calendarColor="#336699"),
    obj("HTML", 30, 60, joinUrl="https://teams.microsoft.com/l/meetup-join/x?c=1", calendar="Work",
        calendarColor="#ff00ff"),
    obj("Later candidate", 30, 60, joinUrl="https://acme.webex.com/meet/ada.", calendar="Work",
        calendarColor="#808080"),
    obj("Capitals", 40, 70, calendar="Work", calendarColor="#336699"),
    obj("Path domain", 50, 80, joinUrl="https://example.com/redirect/zoom.us/j/6", calendar="Work",
        calendarColor="#0080ff"),
    obj("No colour", 60, 90, calendar="Home"),
    obj("No components", 60, 90, calendar="Home"),
    obj("Empty components", 60, 90, calendar="Home"),
    obj("Query link", 70, 100, joinUrl="https://example.com/r?next=https://zoom.us/j/7&x=1"),
    obj("Unicode end", 80, 110, joinUrl="https://gotomeeting.com/join/8"),
    obj("Half colour", 90, 120, calendar="Work", calendarColor="#0301ff"),
    obj("Untimed", None, None, calendar="Work", calendarColor="#808080"),
]


class Calendar(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def world(self, **world):
        path = os.path.join(self.dir.name, "calendar.json")
        with open(path, "w") as f:
            json.dump(world, f)
        return {"OMBRI_SIM_CALENDAR": path}

    def answers(self, env, *requests):
        status, lines, err = run_lines(b"".join(requests), env=env)
        self.assertEqual((status, err), (0, ""))
        return parsed(lines)

    def test_status_texts(self):
        cases = [("notDetermined", "notDetermined"), ("restricted", "denied"), ("denied", "denied"),
                 ("fullAccess", "authorized"), ("writeOnly", "denied")]
        for authorization, text in cases:
            with self.subTest(authorization=authorization):
                env = self.world(authorization=authorization)
                self.assertEqual(self.answers(env, request(id="s", cmd="calendarStatus")),
                                 [{"id": "s", "ok": True, "result": {"status": text}}])

    def test_events_whole_answer(self):
        env = self.world(authorization="fullAccess", events=WORLD_EVENTS)
        before = time.time()
        [answer] = self.answers(env, request(id="e", cmd="calendarEvents"))
        after = time.time()
        self.assertEqual(sorted(answer), ["id", "ok", "result"])
        self.assertEqual((answer["id"], answer["ok"], answer["result"]["status"]), ("e", True, "authorized"))
        events = answer["result"]["events"]
        # The world's times count from when the listener read it: recover that moment from the first event.
        read_at = events[0]["startsAtEpoch"] + 30 * 60
        self.assertTrue(before - 1 <= read_at <= after + 1, (before, read_at, after))
        for event in events:
            for key in ("startsAtEpoch", "endsAtEpoch"):
                if event[key] is not None:
                    self.assertIsInstance(event[key], float)
                    event[key] = round((event[key] - read_at) / 60, 6)
        self.assertEqual(events, EXPECTED_EVENTS)

    def test_no_full_access_lists_nothing(self):
        for authorization, text in [("notDetermined", "notDetermined"), ("denied", "denied"),
                                    ("writeOnly", "denied"), ("restricted", "denied")]:
            with self.subTest(authorization=authorization):
                env = self.world(authorization=authorization, events=WORLD_EVENTS)
                self.assertEqual(self.answers(env, request(id="e", cmd="calendarEvents")),
                                 [{"id": "e", "ok": True, "result": {"events": [], "status": text}}])

    def test_a_raising_store_fails_the_query(self):
        for where in ("predicate", "query"):
            with self.subTest(where=where):
                env = self.world(authorization="fullAccess", events=WORLD_EVENTS, **{"raise": where})
                self.assertEqual(self.answers(env, request(id="e", cmd="calendarEvents"),
                                              request(id="s", cmd="calendarStatus")),
                                 [FAILED, {"id": "s", "ok": True, "result": {"status": "authorized"}}])

    def test_hours_forward(self):
        starts = [30, 100, 11 * 60 + 50, 23 * 60 + 50, 71 * 60 + 50, 72 * 60 + 10]
        env = self.world(authorization="fullAccess", events=[ev(str(m), m) for m in starts])
        cases = [
            ({"hoursForward": 24}, 4), ({"hoursForward": -3}, 1), ({"hoursForward": 0}, 1),
            ({"hoursForward": 2.5}, 2), ({"hoursForward": 18446744073709551615}, 5), ({"hoursForward": 1e308}, 5),
            ({"hoursForward": 100}, 5), ({"hoursForward": "24"}, 3), ({"hoursForward": None}, 3),
            ({"hoursForward": True}, 3), ({"hoursForward": [24]}, 3), ({}, 3), (None, 3), ("24", 3), ([24], 3),
        ]
        requests = []
        for i, (args, _) in enumerate(cases):
            fields = {"id": str(i), "cmd": "calendarEvents"}
            if args is not None:
                fields["args"] = args
            requests.append(request(**fields))
        answers = self.answers(env, *requests)
        for (args, count), answer in zip(cases, answers):
            with self.subTest(args=args):
                self.assertEqual([e["title"] for e in answer["result"]["events"]], [str(m) for m in starts[:count]])

    def test_request_access(self):
        cases = [
            ({"authorization": "notDetermined", "answer": {"decision": "grant", "delaySeconds": 0.2}},
             True, "authorized"),
            ({"authorization": "notDetermined", "answer": {"decision": "deny", "delaySeconds": 0.1}},
             False, "denied"),
            ({"authorization": "notDetermined", "answer": {"decision": "grant", "error": "prompt closed"}},
             True, "authorized"),
            ({"authorization": "writeOnly", "answer": {"decision": "deny", "error": "no"}}, False, "denied"),
            ({"authorization": "denied", "answer": {"decision": "never"}}, False, "denied"),
            ({"authorization": "fullAccess", "answer": {"decision": "never"}}, True, "authorized"),
        ]
        for world, granted, text in cases:
            with self.subTest(world=world):
                env = self.world(events=[ev("Standup", 10)], **world)
                access, status, events = self.answers(env, request(id="a", cmd="calendarRequestAccess"),
                                                      request(id="s", cmd="calendarStatus"),
                                                      request(id="e", cmd="calendarEvents"))
                self.assertEqual(access, {"id": "a", "ok": True, "result": {"granted": granted, "status": text}})
                self.assertEqual(status, {"id": "s", "ok": True, "result": {"status": text}})
                self.assertEqual([e["title"] for e in events["result"]["events"]], ["Standup"] if granted else [])

    @unittest.skipUnless(os.environ.get("OMBRI_SLOW_TESTS"), "waits the full minute; set OMBRI_SLOW_TESTS=1")
    def test_an_unanswered_request_gives_up_after_a_minute(self):
        env = dict(os.environ, **self.world(answer={"decision": "grant", "delaySeconds": 65}))
        env.pop("QIR_MEETING_LISTENER_SMOKE", None)
        child = subprocess.Popen([LISTENER], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        self.addCleanup(child.kill)

        def ask(**fields):
            child.stdin.write(request(**fields))
            child.stdin.flush()
            ready, _, _ = select.select([child.stdout], [], [], 90)
            self.assertTrue(ready)
            return json.loads(child.stdout.readline())

        asked = time.monotonic()
        self.assertEqual(ask(id="a", cmd="calendarRequestAccess"),
                         {"id": "a", "ok": True, "result": {"granted": False, "status": "notDetermined"}})
        self.assertTrue(59.5 <= time.monotonic() - asked < 64, time.monotonic() - asked)
        self.assertEqual(ask(id="p", cmd="calendarStatus")["result"], {"status": "notDetermined"})
        time.sleep(max(0.0, 66 - (time.monotonic() - asked)))
        self.assertEqual(ask(id="s", cmd="calendarStatus")["result"], {"status": "authorized"})
        child.stdin.close()
        self.assertEqual(child.wait(10), 0)


if __name__ == "__main__":
    unittest.main()
