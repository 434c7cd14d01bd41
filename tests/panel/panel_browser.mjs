// The panel in a real browser: Debian's chromium, headless, driven through
// the DevTools protocol. Opens the page on a simulated board, jogs an axis,
// sees the position change, toggles an output, and checks a screenshot for
// the panel's main regions.
//
//   node panel_browser.mjs VOXACTL [--screenshot OUT.png] [--measure SECONDS] [--state-ms MS]
//
// --measure keeps the page open for SECONDS more and prints the latency from
// the board's state report to the page and the CPU time voxactl used.
import { spawn } from "node:child_process";
import { mkdtempSync, readdirSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import puppeteer from "puppeteer-core";

const args = process.argv.slice(2);
const voxactl = args[0];
const opt = (name, dflt) => { const i = args.indexOf(name); return i > 0 ? args[i + 1] : dflt; };
const screenshotPath = opt("--screenshot", "");
const measureSeconds = +opt("--measure", "0");
const stateMs = opt("--state-ms", "25");
const browserPath = process.env.CHROMIUM || "/usr/bin/chromium";

function fail(what) {
  console.error("FAIL: " + what);
  process.exitCode = 1;
  throw new Error(what);
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function startPanel() {
  const p = spawn(voxactl, ["panel", "--sim", "--listen", "127.0.0.1:0", "--state-ms", stateMs],
    { stdio: ["ignore", "pipe", "inherit"] });
  let out = "";
  const url = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error("voxactl panel printed no address")), 10000);
    p.stdout.on("data", (d) => {
      out += d;
      const m = out.match(/open (http:\/\/\S+)/);
      if (m) { clearTimeout(timer); resolve(m[1]); }
    });
    p.on("exit", (code) => reject(new Error("voxactl panel exited with " + code)));
  });
  return { p, url };
}

// CPU seconds of the process by thread name: utime + stime, fields 14 and 15
// of /proc/PID/task/TID/stat, in clock ticks (100 per second here).
function cpuByThread(pid) {
  const out = { all: 0 };
  for (const tid of readdirSync(`/proc/${pid}/task`)) {
    try {
      const stat = readFileSync(`/proc/${pid}/task/${tid}/stat`, "utf8");
      const name = stat.slice(stat.indexOf("(") + 1, stat.lastIndexOf(")"));
      const f = stat.slice(stat.lastIndexOf(")") + 2).split(" ");
      const s = (+f[11] + +f[12]) / 100;
      out[name] = (out[name] || 0) + s;
      out.all += s;
    } catch (e) { /* the thread ended */ }
  }
  return out;
}

const textOf = (page, sel) => page.$eval(sel, (e) => e.textContent.trim());

async function main() {
  const { p, url } = await startPanel();
  const profile = mkdtempSync(join(tmpdir(), "voxa-panel-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: browserPath,
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--disable-dev-shm-usage", `--user-data-dir=${profile}`],
    userDataDir: profile,
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1400, height: 1300 });
    page.on("pageerror", (e) => fail("page error: " + e.message));
    await page.goto(url, { waitUntil: "domcontentloaded" });
    if (page.url().includes("token=")) fail("the token stayed in the address: " + page.url());
    await page.waitForFunction(() => document.getElementById("link").textContent === "up", { timeout: 10000 });

    // Jog axis 0 in + for 700 ms, press and hold.
    const before = +(await textOf(page, "#axis-0 .pos"));
    const jog = await page.$('#axis-0 .jog[data-dir="1"]');
    const box = await jog.boundingBox();
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.down();
    await page.waitForFunction((b) => +document.querySelector("#axis-0 .pos").textContent > b + 100,
      { timeout: 5000 }, before).catch(() => fail("axis 0 did not move while the jog was held"));
    await sleep(400);
    await page.mouse.up();
    // Released: the axis comes to rest.
    await page.waitForFunction(() => +document.querySelector("#axis-0 .vel").textContent === 0, { timeout: 5000 })
      .catch(() => fail("axis 0 kept moving after the jog was released"));
    const after = +(await textOf(page, "#axis-0 .pos"));
    console.log(`jog: axis 0 from ${before} to ${after}`);

    // Move axis 1 to a position typed in.
    await page.$eval("#axis-1 .target", (e) => { e.value = "800"; });
    await page.click("#axis-1 .go");
    await page.waitForFunction(() => +document.querySelector("#axis-1 .pos").textContent === 800, { timeout: 5000 })
      .catch(() => fail("axis 1 did not move to 800"));

    // Toggle output 3 on, then see the board report it.
    await page.click("#out-3");
    await page.waitForFunction(() => document.getElementById("out-3").classList.contains("on"), { timeout: 5000 })
      .catch(() => fail("output 3 did not come on"));
    console.log("output 3 on");

    const axis = (a) => page.$eval(`#axis-${a}`, (tr) => ({ pos: +tr.querySelector(".pos").textContent,
      vel: +tr.querySelector(".vel").textContent }));
    const atRest = (a, ms, what) => page.waitForFunction((a) => +document.querySelector(`#axis-${a} .vel`).textContent === 0,
      { timeout: ms, polling: "raf" }, a).catch(() => fail(what));
    const lease = await page.evaluate(() => jogLease);
    async function hold(a, dir) {
      const b = await (await page.$(`#axis-${a} .jog[data-dir="${dir}"]`)).boundingBox();
      await page.mouse.move(b.x + b.width / 2, b.y + b.height / 2);
      await page.mouse.down();
    }

    // A jog held during a queued move: released, the axis comes to rest within
    // one lease. (A board that holds the jog's start back until the move ends
    // runs it then: it must still come to rest within a lease of starting.)
    await page.$eval("#axis-0 .target", (e) => { e.value = "8000"; });
    await page.click("#axis-0 .go");
    await page.waitForFunction(() => +document.querySelector("#axis-0 .vel").textContent !== 0, { timeout: 3000 })
      .catch(() => fail("axis 0 did not start its move"));
    await hold(6, 1);
    await sleep(700);
    await page.mouse.up();
    const released = Date.now();
    await atRest(6, lease, "axis 6 still moved a lease after its jog was released");
    await page.waitForFunction(() => +document.querySelector("#axis-0 .pos").textContent === 8000, { timeout: 10000 })
      .catch(() => fail("axis 0 did not end its move"));
    const late = await page.waitForFunction(() => +document.querySelector("#axis-6 .vel").textContent !== 0,
      { timeout: 500, polling: "raf" }).then(() => Date.now(), () => 0);
    if (late) await atRest(6, lease, "axis 6 ran on after the board started its held-back jog");
    const rest6 = await axis(6);
    await sleep(1000);
    if ((await axis(6)).pos !== rest6.pos) fail("axis 6 moved again after its jog was released");
    console.log(`jog during a move: axis 6 at rest ${late ? "after the board ran the held-back start, " : ""}` +
      `position ${rest6.pos}; released to at rest ${late ? "n/a" : "< " + lease + " ms"}`);

    // Released without a queued move: the time to an axis at rest.
    await hold(5, 1);
    await page.waitForFunction(() => +document.querySelector("#axis-5 .vel").textContent !== 0, { timeout: 3000 });
    await sleep(300);
    await page.mouse.up();
    const t5 = Date.now();
    await atRest(5, lease, "axis 5 still moved a lease after its jog was released");
    console.log(`jog release to axis at rest on the page: ${Date.now() - t5} ms`);

    // Emergency stop, then Go, then reset: the axis does not move.
    const pos3 = (await axis(3)).pos;
    await page.click("#btn-estop");
    await page.waitForFunction(() => document.getElementById("alarm").textContent.includes("e-stop"), { timeout: 3000 })
      .catch(() => fail("the e-stop did not show"));
    await page.$eval("#axis-3 .target", (e) => { e.value = "700"; });
    if (!(await page.$eval("#axis-3 .go", (b) => b.disabled))) fail("Go stays enabled under an emergency stop");
    // What the button sends, sent anyway: the panel refuses it.
    const goAnswer = await page.evaluate(() => act("move", { axis: 3, pos: 700, vel: 4000 }));
    if (goAnswer.ok || !goAnswer.text.includes("EMERGENCY STOP")) fail("Go under an emergency stop: " + goAnswer.text);
    await page.click("#btn-alarmreset");
    await page.waitForFunction(() => document.getElementById("alarm").textContent === "none", { timeout: 3000 })
      .catch(() => fail("the reset did not clear the alarm"));
    await sleep(1000);
    if ((await axis(3)).pos !== pos3) fail("axis 3 moved after the reset");
    const logText = await page.$eval("#log", (e) => e.textContent);
    if (!logText.includes("queues cleared")) fail("the reset's answer does not say the queues were cleared");
    console.log("e-stop, Go, reset: axis 3 stayed at " + pos3);

    // The link cut during a held jog: the axis stops once the link is back.
    await hold(4, -1);
    await page.waitForFunction(() => +document.querySelector("#axis-4 .vel").textContent !== 0, { timeout: 3000 })
      .catch(() => fail("axis 4 did not jog"));
    const cut = await page.evaluate(() => act("simfault", { drop: 1 }, true));
    if (!cut.ok) fail("simfault: " + cut.text);
    const cutAt = Date.now();
    await page.waitForFunction(() => document.getElementById("log").textContent.includes("jog of axis 4 stopped"),
      { timeout: 10000 }).catch(() => fail("axis 4's stop was not confirmed after the link came back"));
    await atRest(4, 1000, "axis 4 kept moving after the link came back");
    // The panel refuses the page's next renewal: the button lets go.
    const heldOn = await page.waitForFunction(() => !document.querySelector('#axis-4 .jog[data-dir="-1"]').classList.contains("held"),
      { timeout: lease }).then(() => false, () => true);
    await page.mouse.up();
    if (heldOn) fail("the page still shows the jog held after the panel ended it");
    const rest4 = await axis(4);
    await sleep(1000);
    if ((await axis(4)).pos !== rest4.pos) fail("axis 4 moved again");
    const csv = await page.evaluate(() => window.scopeCsv());
    if (!/\n[0-9.]+,+link [^\n]+\n/.test(csv)) fail("the scope's CSV does not mark the gap");
    console.log(`link cut during a jog: axis 4 at rest ${Date.now() - cutAt} ms after the cut; the CSV marks the gap`);

    // Live scope for a while, then the screenshot.
    await page.click("#trace-on");
    await sleep(1500);
    const regions = ["region-status", "region-axes", "region-io", "region-scope", "region-xy", "region-trace", "region-config"];
    for (const id of regions) {
      const el = await page.$("#" + id);
      const b = el && await el.boundingBox();
      if (!b || b.width < 200 || b.height < 40) fail(`region ${id} is not shown`);
      // A region drawn blank compresses to almost nothing.
      const png = await el.screenshot({ type: "png" });
      if (png.length < 3000) fail(`region ${id} looks empty (${png.length} bytes)`);
    }
    const traced = await page.$eval("#trace-lines", (e) => e.textContent.split("\n").length);
    if (traced < 2) fail("the frame trace shows nothing");
    if (screenshotPath) {
      await page.evaluate(() => window.scrollTo(0, 0));
      await page.screenshot({ path: screenshotPath, fullPage: true });
    }
    console.log("regions shown; trace lines " + traced);

    if (measureSeconds > 0) {
      await page.click("#trace-on");  // the trace off: the panel as it is mostly watched
      await page.evaluate(() => { window.panelLatency().length = 0; });
      const cpu0 = cpuByThread(p.pid), t0 = Date.now();
      await sleep(measureSeconds * 1000);
      const cpu1 = cpuByThread(p.pid), wall = (Date.now() - t0) / 1000;
      const cpu = cpu1.all - cpu0.all;
      const share = Object.keys(cpu1).filter((k) => k !== "all")
        .map((k) => `${k} ${(100 * (cpu1[k] - (cpu0[k] || 0)) / wall).toFixed(1)} %`).join(", ");
      const lat = (await page.evaluate(() => window.panelLatency())).slice(-Math.floor(measureSeconds * 50)).sort((a, b) => a - b);
      const q = (f) => lat[Math.min(lat.length - 1, Math.floor(lat.length * f))].toFixed(2);
      console.log(`measure: state period ${stateMs} ms, ${lat.length} updates in ${wall.toFixed(1)} s; ` +
        `report to page median ${q(0.5)} ms, p99 ${q(0.99)} ms; voxactl CPU ${(100 * cpu / wall).toFixed(1)} % of a core (${share})`);
    }
  } finally {
    await browser.close().catch(() => {});
    // Ended as by Ctrl-C, the panel exits cleanly (a sanitizer's report would fail it).
    const code = await new Promise((resolve) => { p.on("exit", (c, sig) => resolve(sig || c)); p.kill("SIGTERM"); });
    rmSync(profile, { recursive: true, force: true });
    if (code !== 0) fail("voxactl panel exited with " + code);
  }
}

main().then(() => console.log("PASS"), (e) => { console.error(e.message); process.exitCode = 1; });
