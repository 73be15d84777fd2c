#!/usr/bin/env bash
# deploy_test.sh QUORVANE-BINARY SOURCE-DIR: the image (deploy/Containerfile) and the Kubernetes
# manifests (deploy/kubernetes/) agree with each other, and the server answers what they ask of it:
# started with the image's entry point and the Deployment's arguments and environment, it serves the
# probes' paths and, on SIGTERM, exits 0 within the pod's grace period leaving nothing behind. The
# server part is skipped, with a line saying so, when the command has no `serve`.
# Exit status 0 passed, 1 failed.
set -u

binary=$1
deploy=$2/deploy
work=$(mktemp -d) || exit 1
server=
# The server and whatever still runs from this test's folders (only after a failure) are ended by
# their process ids.
trap 'for p in $server $(pgrep -f -- "$work/"); do kill -KILL "$p" 2>/dev/null; done; rm -rf -- "$work"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# Prints what the server part needs, one a line: the container's environment, its command line (the
# entry point's on 127.0.0.1 and any free port, then the Deployment's arguments), the liveness and
# readiness paths, and the pod's grace period.
python3 - "$deploy" >"$work/pod" <<'PYTHON' || exit 1
import glob, json, os, re, sys, yaml
deploy, failures = sys.argv[1], []
def check(ok, what):
    if not ok: failures.append(what)
versions = {"Deployment": "apps/v1", "Service": "v1", "HorizontalPodAutoscaler": "autoscaling/v2",
            "PodDisruptionBudget": "policy/v1", "Kustomization": "kustomize.config.k8s.io/v1beta1"}
docs = {}
for path in sorted(glob.glob(os.path.join(deploy, "kubernetes", "*.yaml"))):
    for doc in yaml.safe_load_all(open(path)):
        check(versions.get(doc["kind"]) == doc["apiVersion"], f"{path}: unexpected {doc['apiVersion']} {doc['kind']}")
        docs[doc["kind"]] = doc | {"file": os.path.basename(path)}
if set(docs) != set(versions): sys.exit(f"FAILED: kinds {sorted(docs)}, expected {sorted(versions)}")
deployment, service, hpa = docs["Deployment"], docs["Service"]["spec"], docs["HorizontalPodAutoscaler"]["spec"]

# The image's runtime stage: after the last FROM, continuation lines joined.
image, env = {}, {}
text = re.sub(r"\\\n", " ", open(os.path.join(deploy, "Containerfile")).read())
for line in text.split("\nFROM ")[-1].splitlines():
    word, _, rest = line.strip().partition(" ")
    if word == "ENV": env.update(pair.split("=", 1) for pair in rest.split())
    else: image[word] = rest.strip()
uid, port, entry = image["USER"].split(":")[0], int(image["EXPOSE"].split("/")[0]), json.loads(image["ENTRYPOINT"])
check(entry[entry.index("--port") + 1] == str(port), f"the entry point's --port is not the EXPOSEd {port}")

pod = deployment["spec"]["template"]["spec"]
(container,) = pod["containers"]
ports = {p.get("name"): p["containerPort"] for p in container["ports"]}
is_port = lambda ref: ref == port or ports.get(ref) == port
check(list(ports.values()) == [port], f"the container's ports {ports} are not the EXPOSEd {port}")
check(pod["securityContext"]["runAsNonRoot"] and str(pod["securityContext"]["runAsUser"]) == uid != "0",
      f"the pod does not run as the image's non-root user {uid}")
probes = {"livenessProbe": "/health", "readinessProbe": "/ready"}
for probe, path in probes.items():
    get = container.get(probe, {}).get("httpGet", {})
    check(get.get("path") == path and is_port(get.get("port")), f"{probe} is not GET {path} on port {port}")
if container["securityContext"]["readOnlyRootFilesystem"]:
    mounts = [m["mountPath"] for m in container["volumeMounts"]]
    for folder in ["/tmp"] + [env[name] for name in ("HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR")]:
        check(any(f"{folder}/".startswith(f"{m}/") for m in mounts), f"{folder} is not writable (no volume)")

args, variables = container["args"], {e["name"]: e["value"] for e in container["env"]}
jobs, grace = (int(args[args.index(option) + 1]) for option in ("-j", "--grace"))
requests, cpu = container["resources"]["requests"], str(container["resources"]["requests"]["cpu"])
number, unit = re.fullmatch(r"(\d+)(Ki|Mi|Gi|)", requests["memory"]).groups()
check(int(number) * {"Ki": 2**10, "Mi": 2**20, "Gi": 2**30, "": 1}[unit] >=
      jobs * int(variables["QUORVANE_RENDER_MEMORY_MIB"]) * 2**20, "the memory request is below the offices' bound")
check((int(cpu[:-1]) / 1000 if cpu.endswith("m") else float(cpu)) >= jobs, f"the cpu request is below {jobs} offices")
check(pod["terminationGracePeriodSeconds"] > grace, f"terminationGracePeriodSeconds is not above --grace {grace}")

labels = deployment["spec"]["template"]["metadata"]["labels"].items()
check(service["selector"].items() <= labels, "the Service does not select the Deployment's pods")
check(docs["PodDisruptionBudget"]["spec"]["selector"]["matchLabels"].items() <= labels,
      "the disruption budget does not select the Deployment's pods")
check(all(is_port(p["targetPort"]) for p in service["ports"]), f"the Service does not target port {port}")
ref = hpa["scaleTargetRef"]
check((ref["apiVersion"], ref["kind"], ref["name"]) == ("apps/v1", "Deployment", deployment["metadata"]["name"]),
      "the autoscaler does not scale the Deployment")
listed = sorted(d["file"] for d in docs.values() if d["kind"] != "Kustomization")
check(sorted(docs["Kustomization"]["resources"]) == listed, "kustomization.yaml does not list every manifest")
if failures: sys.exit("\n".join("FAILED: " + f for f in failures))
command, local = entry[entry.index("serve"):] + args, {"--host": "127.0.0.1", "--port": "0"}
command = [local.get(before, word) for before, word in zip([""] + command, command)]
print(" ".join(f"{k}={v}" for k, v in variables.items()), " ".join(command), *probes.values(),
      pod["terminationGracePeriodSeconds"], sep="\n")
PYTHON
{ read -r -a environment; read -r -a command; read -r liveness; read -r readiness; read -r grace_period; } <"$work/pod"
echo "passed: the image and the manifests agree"

# A command without the server answers `serve --help` with its general help, which has no --port.
if ! timeout 10 "$binary" serve --help 2>/dev/null | grep -q -- --port; then
  echo "deploy: server part skipped: $binary has no serve command"
  exit 0
fi
mkdir -m 700 "$work/run" "$work/tmp"
env "${environment[@]}" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp" "$binary" "${command[@]}" 2>"$work/log" &
server=$!
address=
for ((end = SECONDS + 30; SECONDS < end; )); do
  address=$(jq -r 'select(.event == "listening") | .http' "$work/log" 2>/dev/null | head -n 1)
  [[ -n $address ]] || ! kill -0 "$server" 2>/dev/null && break
  sleep 0.1
done
[[ -n $address ]] || { fail "no \"listening\" line from the server: $(head -c 2000 "$work/log")"; exit 1; }
# Rows: path, the statuses it may answer (readiness: no office may be able to answer here).
for row in "$liveness 200" "$readiness 200|503"; do
  read -r path statuses <<<"$row"
  status=$(curl -sS -o /dev/null -w '%{http_code}' --max-time 30 "http://$address$path")
  [[ $status =~ ^($statuses)$ ]] || fail "GET $path answered $status, expected $statuses"
done
kill -TERM "$server"
for ((end = SECONDS + grace_period; SECONDS < end; )); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$server" 2>/dev/null; then
  fail "the server still runs ${grace_period} s after SIGTERM"
else
  wait "$server" || fail "the server exited with status $? after SIGTERM"
  leftovers=$(pgrep -a -f -- "$work/") && fail "processes left running: $leftovers"
  # Its temporary files, its local socket, and its offices' sockets, which name the server's process.
  leftovers=$(find "$work/tmp" -mindepth 1; find "$work/run" -type s
              find /tmp -maxdepth 1 -name "OSL_PIPE_$(id -u)_quorvane-$server-*")
  [[ -z $leftovers ]] || fail "left behind: $leftovers"
  server=
fi
[[ $failed -eq 0 ]] && echo "passed: the server answers $liveness and $readiness and drains on SIGTERM"
exit $failed
