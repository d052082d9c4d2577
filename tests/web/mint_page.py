"""Drives mint.html in Debian's Chromium, headless, through chromium-driver and
Selenium: for the page's tests and its benchmark. Nothing here downloads a
browser or a driver; both come from Debian's packages."""
import http.server
import json
import os
import pathlib
import socketserver
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


class ProxyTrap:
    """A proxy every request of the browser is sent to: it answers none and
    notes each, so that a request from any part of the page (its workers
    included) shows, whatever the page's own policy stops."""

    def __init__(self):
        self.requests = []
        trap = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                first = self.request.recv(4096).split(b"\r\n", 1)[0]
                trap.requests.append(first.decode("latin-1"))

        self.server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Browser:
    def __init__(self, download_dir, proxy_port=None):
        self.download_dir = pathlib.Path(download_dir)
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         "--no-first-run", "--disable-background-networking", "--disable-component-update",
                         "--disable-sync", "--disable-default-apps", "--disable-extensions",
                         "--window-size=1000,900"):
            options.add_argument(argument)
        if proxy_port is not None:
            options.add_argument(f"--proxy-server=http://127.0.0.1:{proxy_port}")
            # Loopback too goes through the proxy.
            options.add_argument("--proxy-bypass-list=<-loopback>")
        options.add_experimental_option("prefs", {
            "download.default_directory": str(self.download_dir),
            "download.prompt_for_download": False,
            "safebrowsing.enabled": False,
        })
        options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
        self.driver = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": str(self.download_dir),
                                     "eventsEnabled": True})

    def quit(self):
        self.driver.quit()

    def open(self, page, fragment=""):
        url = pathlib.Path(page).resolve().as_uri() + fragment
        # A new fragment alone would not load the page again.
        self.driver.get("about:blank")
        self.driver.get(url)
        self.wait(lambda d: d.execute_script("return document.body.dataset.ready === 'true'"), 60)
        return url

    def wait(self, condition, seconds=60):
        return WebDriverWait(self.driver, seconds, poll_frequency=0.05).until(condition)

    def element(self, element_id):
        return self.driver.find_element(By.ID, element_id)

    def choose_file(self, path):
        self.element("file").send_keys(str(pathlib.Path(path).resolve()))
        self.wait(lambda d: not self.element("options").get_attribute("hidden")
                  or self.element("file-error").text)

    def choose_key(self, path):
        self.element("key").send_keys(str(pathlib.Path(path).resolve()))
        self.wait(lambda d: self.element("key-status").text != "Checking the key file…")

    def select(self, element_id, value):
        Select(self.element(element_id)).select_by_value(value)

    def run(self, seconds=60):
        """Clicks Run and waits, inside the page (asking it over and over
        would take the browser's time from the run), until the result or an
        error shows; answers the error's text."""
        self.driver.set_script_timeout(seconds)
        return self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const result = document.getElementById('result');
            const error = document.getElementById('run-error');
            const settled = () => !result.hidden || error.textContent !== '';
            const observer = new MutationObserver(() => {
              if (settled()) { observer.disconnect(); done(error.textContent); }
            });
            observer.observe(document.body, {attributes: true, childList: true, subtree: true, characterData: true});
            document.getElementById('run').click();
            if (settled()) { observer.disconnect(); done(error.textContent); }""")

    def download(self, link_id, seconds=60):
        """Clicks a download link; answers the downloaded file's path."""
        link = self.element(link_id)
        name = link.get_attribute("download")
        target = self.download_dir / name
        link.click()
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            partial = list(self.download_dir.glob("*.crdownload"))
            if target.exists() and not partial:
                return target
            time.sleep(0.02)
        raise TimeoutError(f"{name} was not downloaded")

    def network_requests(self):
        """The URLs of every request the page's target sent, from the
        performance log (DevTools Network events)."""
        urls = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message.get("method") == "Network.requestWillBeSent":
                urls.append(message["params"]["request"]["url"])
        return urls

    def unnamed_controls(self):
        """The controls in the accessibility tree that have no name."""
        controls = {"button", "checkbox", "combobox", "textbox", "link", "radio", "slider", "spinbutton",
                    "listbox", "menulistpopup", "PopUpButton", "progressbar"}
        tree = self.driver.execute_cdp_cmd("Accessibility.getFullAXTree", {})
        missing = []
        named = 0
        for node in tree["nodes"]:
            if node.get("ignored"):
                continue
            role = node.get("role", {}).get("value")
            if role not in controls:
                continue
            name = node.get("name", {}).get("value", "")
            if name.strip():
                named += 1
            else:
                missing.append((role, node.get("nodeId")))
        return missing, named
