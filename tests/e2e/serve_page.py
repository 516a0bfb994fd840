"""The page in a real browser (headless chromium), against rxmon serving a simulator whose signal
swaps between 100 and 900 each pass and falls silent 14 s after its start (waited for, however long
the browser took to get there). Prints one line per failed check; usage: serve_page.py URL [SCREENSHOT]."""
import json, shutil, sys, tempfile, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

url = sys.argv[1]
failed = []
def check(name, ok):
    if not ok: failed.append(name); print("FAILED: page:", name)
def until(seconds, test):
    end = time.monotonic() + seconds
    while not (value := test()) and time.monotonic() < end: time.sleep(0.02)
    return value

# The page's own clock times what it shows: a loaded machine slows the driver's round trips, not the page.
WATCH = """window.shown = []; addEventListener("DOMContentLoaded", () => { const s = document.getElementById("signal");
    new MutationObserver(() => shown.push([performance.now(), s.textContent])).observe(s, {childList: true}); });"""
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-sync",
             "--disable-background-networking", "--disable-component-update", "--window-size=360,780",
             "--autoplay-policy=no-user-gesture-required",
             "--user-data-dir=" + (profile := tempfile.mkdtemp(prefix="rxmon-chromium-"))):
    options.add_argument(flag)
options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    # A 360-pixel-wide phone (a headless window is at least 500 wide).
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                            {"width": 360, "height": 720, "deviceScaleFactor": 1, "mobile": True})
    browser.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": WATCH})
    browser.get(url)
    text = lambda id: browser.execute_script("return document.getElementById(arguments[0]).textContent", id)
    readings = lambda: browser.execute_script("return shown.filter(s => s[1] == 100 || s[1] == 900)")
    shown = until(3, lambda: len(readings()) > 5) and readings()
    check("shows the simulator's signal within 1 s of opening: %s" % shown[:1], shown and shown[0][0] < 1000)
    check("follows each change within 0.5 s", shown and all(b[0] - a[0] < 500 for a, b in zip(shown, shown[1:])))
    check("frequency and model", text("freq") == "146.2500 MHz" and text("model") == "SR-A10")
    # The tone: the oscillator the button makes, and the pitch it is given.
    browser.execute_script("""
        const make = AudioContext.prototype.createOscillator;
        AudioContext.prototype.createOscillator = function () {
            const o = make.call(this); window.probe = {type: () => o.type, hz: []};
            const set = o.frequency.setValueAtTime.bind(o.frequency);
            o.frequency.setValueAtTime = (hz, t) => { window.probe.hz.push(hz); return set(hz, t); };
            return o; };""")
    browser.find_element("id", "tone").click()
    tone = until(1, lambda: browser.execute_script("return window.probe && window.probe.hz.length > 2 && "
                                                   "[window.probe.type(), window.probe.hz, now.pitch_hz]"))
    check("Tone starts a square wave at pitch_hz: %s" % tone,
          tone and tone[0] == "square" and set(tone[1]) <= {180, 21619} and tone[1][-1] == tone[2])
    if len(sys.argv) > 2:
        browser.save_screenshot(sys.argv[2])
    check("the silent spell shows No communication",
          until(20, lambda: text("state") == "No communication" and
                browser.execute_script("return document.getElementById('state').className") == "alarm"))
    # Every request the page made went to rxmon.
    origin = url.rstrip("/")
    requests = [m["params"]["request"]["url"] for m in (json.loads(e["message"])["message"]
                for e in browser.get_log("performance")) if m["method"] == "Network.requestWillBeSent"
                and m["params"].get("documentURL", "").startswith(origin)]
    strays = [r for r in requests if not r.startswith(origin + "/")]
    check("every request went to rxmon: %s" % strays, requests and not strays)
finally:
    browser.quit()
    shutil.rmtree(profile, ignore_errors=True)
sys.exit(1 if failed else 0)
