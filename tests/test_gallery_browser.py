"""The tour's gallery in a real browser: headless Chromium opens index.html; every picture loads,
every link within the page brings its section into view, the console stays clean, nothing
spills out of its place, and the page is photographed at 1280 px wide."""

import importlib.util
import os
import shutil

import pytest


WIDTH, HEIGHT = 1280, 900
PHONE = 390
BROWSERS = ("chromium", "chromium-browser", "google-chrome")
DRIVER = "chromedriver"


@pytest.fixture(scope="module")
def browser():
    browser, driver = next(filter(None, map(shutil.which, BROWSERS)), None), shutil.which(DRIVER)
    missing = [what for what, absent in [
        ("the Python package selenium (pip install '.[test]')", importlib.util.find_spec("selenium") is None),
        ("a Chromium browser (%s)" % " or ".join(BROWSERS), browser is None),
        ("its driver %s (Debian's package chromium-driver)" % DRIVER, driver is None)] if absent]
    if missing:
        reason = "no browser to open the gallery in: missing " + "; ".join(missing)
        if os.environ.get("VEXO_BROWSER_INSTALL") == "failed":
            pytest.skip(reason + " (.ci/run could not install them)")
        if os.environ.get("CI") == "true":
            pytest.fail(reason + ". .ci/run installs them before the tests")
        pytest.skip(reason)
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = browser
    for argument in ("--no-sandbox", "--headless=new", "--disable-gpu", "--hide-scrollbars",
                     "--window-size=%d,%d" % (WIDTH, HEIGHT)):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    # the driver's path given: Selenium does not look for a driver to download; the browser is
    # not ours to run under the sanitizers that the suite may be preloaded with
    clean = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
    session = webdriver.Chrome(options=options, service=Service(driver, env=clean))
    try:
        session.set_page_load_timeout(60)
        session.set_script_timeout(10)
        yield session
    finally:
        session.quit()


# Each check returns what it found wrong, one line a fault, each line starting with its kind.

BROKEN_IMAGES = """
return Array.from(document.images).filter(i => !(i.complete && i.naturalWidth > 0 && i.naturalHeight > 0))
    .map(i => `image ${i.getAttribute('src')}: complete ${i.complete}, natural size ${i.naturalWidth}x${i.naturalHeight}`);
"""

# Where the link's section is: its top in the window, the bottom of the bar stuck at the top of
# the window (0 where the bar is not stuck), and how many elements bear its id.
PLACE = """
const id = decodeURIComponent(arguments[0].slice(1)), target = document.getElementById(id);
const bar = document.querySelector('nav'), box = bar && bar.getBoundingClientRect();
return {count: id ? document.querySelectorAll('[id="' + CSS.escape(id) + '"]').length : 0,
        top: target && target.getBoundingClientRect().top, hash: location.hash,
        covered: box && box.top <= 1 ? box.bottom : 0, height: window.innerHeight};
"""

# Scrolls to the end of the page farther from the section, so that the click must bring it,
# then brings the link into the window (below the bar, unless it is in the bar) as a reader would.
AWAY = """
const [hash, link] = arguments, target = document.getElementById(decodeURIComponent(hash.slice(1)));
const page = document.documentElement, middle = page.scrollHeight / 2;
history.replaceState(null, '', location.pathname);
window.scrollTo(0, target.getBoundingClientRect().top + window.scrollY < middle ? page.scrollHeight : 0);
const bar = document.querySelector('nav'), box = link.getBoundingClientRect();
const covered = bar && !bar.contains(link) && bar.getBoundingClientRect().top <= 1 ? bar.getBoundingClientRect().bottom : 0;
if (box.top < covered || box.bottom > window.innerHeight) link.scrollIntoView({block: 'center'});
"""


def landed(place, hash_):
    return place["hash"] == hash_ and place["top"] is not None and place["covered"] - 1 <= place["top"] < place["height"]


def missed_links(driver):
    """Every link to a place in the page: its one target, which a click brings below the bar
    into the window, the address then ending in the link's hash."""
    from selenium.common.exceptions import TimeoutException, WebDriverException
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    found = []
    for link in driver.find_elements(By.CSS_SELECTOR, 'a[href^="#"]'):
        hash_ = "#" + link.get_attribute("href").split("#", 1)[1]
        name = "link %r (%s)" % (link.text.strip(), hash_)
        place = driver.execute_script(PLACE, hash_)
        if place["count"] != 1:
            found.append("%s: %d elements bear its id" % (name, place["count"]))
            continue
        driver.execute_script(AWAY, hash_, link)
        try:
            link.click()
            WebDriverWait(driver, 2).until(lambda d: landed(d.execute_script(PLACE, hash_), hash_))
        except TimeoutException:
            place = driver.execute_script(PLACE, hash_)
            found.append("%s: after the click the address ends in %r and the section's top is at "
                         "%s px, not between the bar's bottom %s px and the window's %s px"
                         % (name, place["hash"], place["top"], place["covered"], place["height"]))
        except WebDriverException as error:
            found.append("%s: cannot be clicked: %s" % (name, error.msg.splitlines()[0]))
    return found


LAYOUT_FAULTS = """
const faults = [], page = document.documentElement;
if (page.scrollWidth > window.innerWidth)
    faults.push(`layout: the page is ${page.scrollWidth} px wide in a window of ${window.innerWidth} px`);
for (const img of document.images) {
    const box = img.getBoundingClientRect(), around = img.closest('figure');
    const room = around ? around.getBoundingClientRect() : {left: 0, right: window.innerWidth};
    if (box.left < room.left - 1 || box.right > room.right + 1)
        faults.push(`layout: image ${img.getAttribute('src')} (${box.left}-${box.right} px) spills out of ${around ? 'its figure' : 'the window'} (${room.left}-${room.right} px)`);
}
const figures = Array.from(document.querySelectorAll('figure'), f => [f.id, f.getBoundingClientRect()]);
figures.forEach(([a, p], i) => figures.slice(i + 1).forEach(([b, q]) => {
    if (p.left < q.right - 1 && q.left < p.right - 1 && p.top < q.bottom - 1 && q.top < p.bottom - 1)
        faults.push(`layout: figures ${a} and ${b} overlap`);
}));
return faults;
"""


def console_errors(driver):
    """What the browser logged as an error since it was last asked: a script's exception, a
    console.error, a file that did not load."""
    return ["console: " + entry["message"] for entry in driver.get_log("browser")
            if entry["level"] == "SEVERE"]


def diagnose(driver, page, width=WIDTH):
    """Opens the page in a window ``width`` px wide; every fault found, one line each: images,
    links, layout, console."""
    console_errors(driver)  # what earlier pages logged
    driver.set_window_size(width, HEIGHT)
    driver.get(page.as_uri())
    found = driver.execute_script(BROKEN_IMAGES) + driver.execute_script(LAYOUT_FAULTS)
    return found + missed_links(driver) + console_errors(driver)


def screenshot(driver, path):
    """The whole page, 1280 px wide: the window as tall as the page."""
    chrome = driver.execute_script("return window.outerHeight - window.innerHeight")
    height = driver.execute_script("return document.documentElement.scrollHeight")
    driver.set_window_size(WIDTH, height + chrome)
    driver.save_screenshot(str(path))
    return height


def test_the_gallery_loads_every_picture_reaches_every_section_and_logs_no_error_even_as_narrow_as_a_phone(
        browser, request, tmp_path_factory):
    from PIL import Image

    # the tour asked for here, once the browser has started: where none can, no tour is made
    status, _, out, page, _ = request.getfixturevalue("tour_gallery")
    assert status == 0 and 'href="#' in page and "<img" in page
    # photographed before its links are followed, which would show them as visited
    shot = tmp_path_factory.mktemp("browser") / "gallery-1280.png"
    browser.get((out / "index.html").as_uri())
    height = screenshot(browser, shot)
    print("screenshot of the gallery:", shot)
    with Image.open(shot) as picture:
        assert picture.size == (WIDTH, height)
    faults = ["%d px wide: %s" % (width, fault) for width in (WIDTH, PHONE)
              for fault in diagnose(browser, out / "index.html", width)]
    assert not faults, "the gallery in Chromium:\n" + "\n".join(faults)

