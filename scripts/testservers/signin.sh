# Sign-in (SMTP AUTH) services of the private test servers, sourced by
# testservers.sh after tls.sh. Postfix hands every AUTH exchange to Dovecot's
# authentication service, so a test user signs in to SMTP with the name and
# password that open its POP3 mailbox. Each service refuses MAIL from a
# client that has not signed in with "530 5.7.0 Authentication required".
#
#   NET.1 (TLS_HOST)  SUBMIT_PORT         STARTTLS first, then any mechanism
#                     SUBMIT_<MECH>_PORT  STARTTLS first, that mechanism only
#   NET.5             465                 TLS from the first byte
#   127.0.0.1         SUBMIT_CLEAR_PORT   no TLS, AUTH in clear
#
# The plain SMTP port keeps offering no AUTH.

readonly SIGNIN_MECHS=(SCRAM-SHA-256 SCRAM-SHA-1 PLAIN LOGIN)
# Dovecot makes it under its short base_dir; Postfix's smtpd (user postfix)
# connects to it.
readonly SIGNIN_SOCKET=smtp-auth
readonly SIGNIN_IMPLICIT_PORT=465

declare -A SIGNIN_MECH_PORT=()

signin_key() { # MECH: SCRAM-SHA-256 -> SUBMIT_SCRAM_SHA_256_PORT
    local m=${1//-/_}
    printf 'SUBMIT_%s_PORT' "$m"
}

# Chooses the ports on TLS_HOST, apart from the TLS ports there.
signin_pick() {
    local ports tries=0 m
    local -a p
    while ((tries++ < 20)); do
        ports=$(pick_ports $((1 + ${#SIGNIN_MECHS[@]}))) || die "found no free loopback port"
        [[ " $ports " != *" $TLS_SMTP_PORT "* && " $ports " != *" $TLS_POP_PORT "* ]] || continue
        [[ " $ports " != *" $SELFSIGNED_SMTP_PORT "* && " $ports " != *" $SELFSIGNED_POP_PORT "* ]] \
            || continue
        read -r -a p <<<"$ports"
        SUBMIT_PORT=${p[0]}
        for m in "${!SIGNIN_MECHS[@]}"; do
            SIGNIN_MECH_PORT[${SIGNIN_MECHS[m]}]=${p[m + 1]}
        done
        return 0
    done
    die "found no free loopback ports apart from the TLS ones"
}

signin_write_configs() {
    local -a vars=("INSTANCE=$INSTANCE" "TLS_NET=$TLS_NET" "TLS_DIR=$T" "SUBMIT_PORT=$SUBMIT_PORT"
        "SUBMITS_PORT=$SIGNIN_IMPLICIT_PORT" "SUBMIT_CLEAR_PORT=$SUBMIT_CLEAR_PORT"
        "AUTH_SOCKET=$BASE_DIR/$SIGNIN_SOCKET" "AUTH_SOCKET_NAME=$SIGNIN_SOCKET")
    render "$TEMPLATES/signin-main.cf.in" "${vars[@]}" >>"$L/postfix/main.cf"
    render "$TEMPLATES/signin-master.cf.in" "${vars[@]}" >>"$L/postfix/master.cf"
    render "$TEMPLATES/signin-dovecot.conf.in" "${vars[@]}" >>"$L/dovecot/dovecot.conf"
    local m o
    local -a mech
    for m in "${SIGNIN_MECHS[@]}"; do
        mech=("MECH=$m" "SERVICE=submit-${m,,}" "MECH_PORT=${SIGNIN_MECH_PORT[$m]}" "OTHER_MECHS=")
        for o in "${SIGNIN_MECHS[@]}"; do
            [[ $o == "$m" ]] || mech[3]+="${o,,} "
        done
        render "$TEMPLATES/signin-mech-master.cf.in" "${vars[@]}" "${mech[@]}" >>"$L/postfix/master.cf"
        render "$TEMPLATES/signin-mech-dovecot.conf.in" "${vars[@]}" "${mech[@]}" >>"$L/dovecot/dovecot.conf"
    done
}

signin_env() {
    printf 'SUBMIT_HOST=%s\nSUBMIT_PORT=%s\n' "$TLS_NET.1" "$SUBMIT_PORT"
    printf 'SUBMITS_HOST=%s\nSUBMITS_PORT=%s\n' "$TLS_NET.5" "$SIGNIN_IMPLICIT_PORT"
    local m
    for m in "${SIGNIN_MECHS[@]}"; do
        printf '%s=%s\n' "$(signin_key "$m")" "${SIGNIN_MECH_PORT[$m]:-}"
    done
    printf 'SUBMIT_CLEAR_PORT=%s\n' "$SUBMIT_CLEAR_PORT"
}

# True when every sign-in service answers.
signin_ready() {
    local m
    greets_at "$TLS_NET.1" "$SUBMIT_PORT" 220 && greets_at 127.0.0.1 "$SUBMIT_CLEAR_PORT" 220 || return 1
    for m in "${SIGNIN_MECHS[@]}"; do
        greets_at "$TLS_NET.1" "${SIGNIN_MECH_PORT[$m]}" 220 || return 1
    done
    # TLS from the first byte: no greeting before a handshake.
    ! tls_port_free "$TLS_NET.5" "$SIGNIN_IMPLICIT_PORT"
}
