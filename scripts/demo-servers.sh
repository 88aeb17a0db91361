# Sourced by run.sh and screenshots.sh after building: the demo's settings and its four local
# servers. Sets demo, RAR_PORT, PPF_PORT, COMMUNITY_PORT, HTTPS_PORT and COMMUNITY_HOST; the
# caller keeps the servers' process ids in its array pids and stops them on exit.
demo="$ZANDREL_BUILD/demo"
source "$demo/demo.env"

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Stops the script when a demo port is taken; the arguments are the lines that say what to do.
check_demo_ports() {
    for port in "$RAR_PORT" "$PPF_PORT" "$COMMUNITY_PORT" "$HTTPS_PORT"; do
        if port_in_use "$port"; then
            echo "Port $port on 127.0.0.1 is in use, so the demo servers cannot start." >&2
            printf '%s\n' "$@" >&2
            exit 1
        fi
    done
}

# Starts the RAR, PPF, https and community servers and waits until they listen. Their request
# logs go to standard error, or nowhere with "quiet". The RAR server redirects its update to the
# https server, whose certificate comes from the demo's own authority: the program started
# afterwards trusts that authority besides the system's store (CURL_CA_BUNDLE).
start_demo_servers() {
    local log=/dev/stderr
    [ "${1:-}" = quiet ] && log=/dev/null
    local trusted="$demo/tls/trusted.pem"
    cat /etc/ssl/certs/ca-certificates.crt "$demo/tls/ca.pem" > "$trusted" 2>/dev/null ||
        cp "$demo/tls/ca.pem" "$trusted"
    export CURL_CA_BUNDLE="$trusted"
    "$demo/demo-server" "$demo/servers/https" "$HTTPS_PORT" "https server" \
        --tls "$demo/tls/server.pem" "$demo/tls/server.key" 2>"$log" &
    pids+=($!)
    "$demo/demo-server" "$demo/servers/rar" "$RAR_PORT" "RAR server" \
        --redirect /zandrel.rar "https://127.0.0.1:$HTTPS_PORT/zandrel.rar" 2>"$log" &
    pids+=($!)
    "$demo/demo-server" "$demo/servers/ppf" "$PPF_PORT" "PPF server" \
        --cut-first /zandrel.ppf 2>"$log" &
    pids+=($!)
    "$demo/demo-server" "$demo/servers/community" "$COMMUNITY_PORT" "community site" 2>/dev/null &
    pids+=($!)
    # No internet here: the web view finds the About window's community site on the demo's page.
    if [ -n "$COMMUNITY_HOST" ]; then
        export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-} --host-resolver-rules=\"MAP $COMMUNITY_HOST 127.0.0.1:$COMMUNITY_PORT\""
    fi
    for port in "$RAR_PORT" "$PPF_PORT" "$COMMUNITY_PORT" "$HTTPS_PORT"; do
        for _ in $(seq 50); do port_in_use "$port" && break; sleep 0.1; done
        port_in_use "$port" || { echo "The demo server on port $port did not start." >&2; exit 1; }
    done
}
