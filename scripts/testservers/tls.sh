# TLS services of the private test servers, sourced by testservers.sh.
#
# Beside the plain ports (which stay exactly as they are: tests that do not
# trust the test authority use them) each instance serves TLS on addresses of
# its own in 127.0.0.0/8, one per certificate, so that the implicit-TLS ports
# 465 and 995 can be used by several instances at once:
#
#   NET.1  good certificate   SMTP STARTTLS, SMTP 465, POP3 STLS, POP3 995
#   NET.2  expired            SMTP STARTTLS, POP3 STLS
#   NET.3  another host name  SMTP STARTTLS, POP3 STLS
#   NET.4  unknown authority  SMTP STARTTLS, POP3 STLS
#   NET.5  good certificate   SMTP 465 with sign-in (signin.sh)
#   NET.6  self-signed        SMTP STARTTLS, POP3 STLS
#
# The certificates come from a test authority made on every start
# (DIR/tls/ca.pem), except the self-signed one (DIR/tls/selfsigned.pem);
# nothing is added to the machine's trust store.

readonly TLS_IMPLICIT_SMTP=465
readonly TLS_IMPLICIT_POP=995
readonly TLS_WRONG_NAME=elsewhere.invalid
readonly TLS_SELF_SIGNED_NAME="Orvanta self-signed test"

tls_port_free() { # ADDR PORT: nothing answers there
    ! (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null
}

# Chooses TLS_NET (127.A.B) and the STARTTLS/STLS ports.
tls_pick() {
    command -v openssl >/dev/null || die "openssl is needed for the TLS test services"
    local ports tries=0
    while ((tries++ < 50)); do
        TLS_NET=127.$((64 + RANDOM % 128)).$((RANDOM % 256))
        tls_port_free "$TLS_NET.1" "$TLS_IMPLICIT_SMTP" && tls_port_free "$TLS_NET.1" "$TLS_IMPLICIT_POP" \
            && tls_port_free "$TLS_NET.5" "$TLS_IMPLICIT_SMTP" && break
    done
    ports=$(pick_ports 4) || die "found no free loopback port"
    read -r TLS_SMTP_PORT TLS_POP_PORT SELFSIGNED_SMTP_PORT SELFSIGNED_POP_PORT <<<"$ports"
}

# Signs a certificate for SUBJECT_ALT_NAMES with the authority in CADIR.
tls_issue() { # OUT CADIR SAN START END
    local out=$1 ca=$2 san=$3 start=$4 end=$5 work=$T/work
    rm -rf -- "$work"
    mkdir -p "$work"
    : >"$work/index.txt"
    printf '%s\n' "$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')" >"$work/serial"
    cat >"$work/ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $work/index.txt
serial = $work/serial
new_certs_dir = $work
default_md = sha256
policy = any
copy_extensions = none
unique_subject = no
x509_extensions = leaf
[any]
commonName = supplied
[leaf]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $san
CNF
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
        -keyout "$out.key" -out "$work/req.pem" -subj "/CN=${san#*:}" 2>/dev/null
    openssl ca -batch -config "$work/ca.cnf" -cert "$ca.pem" -keyfile "$ca.key" \
        -startdate "$start" -enddate "$end" -in "$work/req.pem" -out "$out.pem" >/dev/null 2>&1 \
        || die "openssl could not sign $out.pem"
    rm -rf -- "$work"
}

# A certificate that signs itself, as a small server makes for itself.
tls_self_signed() { # OUT SAN NAME
    openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 730 \
        -keyout "$1.key" -out "$1.pem" -subj "/O=Orvanta tests/CN=$3" \
        -addext "subjectAltName=$2" -addext "extendedKeyUsage=serverAuth" \
        2>/dev/null || die "openssl could not make $1.pem"
}

tls_authority() { # BASE NAME
    openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 3650 \
        -keyout "$1.key" -out "$1.pem" -subj "/O=Orvanta tests/CN=$2" \
        -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        2>/dev/null || die "openssl could not make $1.pem"
}

tls_make_certs() {
    T=$L/tls
    rm -rf -- "$T"
    mkdir -p "$T"
    local now later
    now=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
    later=$(date -u -d '+2 years' +%Y%m%d%H%M%SZ)
    tls_authority "$T/ca" "Orvanta Test Authority"
    tls_authority "$T/other-ca" "Unknown Test Authority"
    tls_issue "$T/good" "$T/ca" "IP:$TLS_NET.1" "$now" "$later"
    tls_issue "$T/expired" "$T/ca" "IP:$TLS_NET.2" 20200101000000Z 20210101000000Z
    tls_issue "$T/wronghost" "$T/ca" "DNS:$TLS_WRONG_NAME" "$now" "$later"
    tls_issue "$T/unknown" "$T/other-ca" "IP:$TLS_NET.4" "$now" "$later"
    tls_issue "$T/submits" "$T/ca" "IP:$TLS_NET.5" "$now" "$later"
    tls_self_signed "$T/selfsigned" "IP:$TLS_NET.6" "$TLS_SELF_SIGNED_NAME"
    # The authority that signed "unknown" must not be trusted by anyone.
    rm -f -- "$T/other-ca.key" "$T/other-ca.pem" "$T/ca.key"
    # Postfix and Dovecot read the keys as root before dropping privileges.
    chmod 600 "$T"/*.key
    chmod 644 "$T"/*.pem
}

# Adds the TLS services to the rendered configuration files.
tls_write_configs() {
    tls_make_certs
    local -a vars=("INSTANCE=$INSTANCE" "TLS_NET=$TLS_NET" "TLS_DIR=$T" "TLS_SMTP_PORT=$TLS_SMTP_PORT"
        "TLS_POP_PORT=$TLS_POP_PORT" "TLS_IMPLICIT_SMTP=$TLS_IMPLICIT_SMTP"
        "TLS_IMPLICIT_POP=$TLS_IMPLICIT_POP" "SELFSIGNED_SMTP_PORT=$SELFSIGNED_SMTP_PORT"
        "SELFSIGNED_POP_PORT=$SELFSIGNED_POP_PORT")
    render "$TEMPLATES/tls-master.cf.in" "${vars[@]}" >>"$L/postfix/master.cf"
    render "$TEMPLATES/tls-dovecot.conf.in" "${vars[@]}" >>"$L/dovecot/dovecot.conf"
}

tls_env() {
    printf 'TLS_CA_FILE=%s\n' "$T/ca.pem"
    printf 'TLS_HOST=%s\nTLS_SMTP_PORT=%s\nTLS_POP_PORT=%s\n' "$TLS_NET.1" "$TLS_SMTP_PORT" "$TLS_POP_PORT"
    printf 'TLS_SMTPS_PORT=%s\nTLS_POPS_PORT=%s\n' "$TLS_IMPLICIT_SMTP" "$TLS_IMPLICIT_POP"
    printf 'TLS_EXPIRED_HOST=%s\nTLS_WRONGHOST_HOST=%s\nTLS_UNKNOWN_CA_HOST=%s\n' \
        "$TLS_NET.2" "$TLS_NET.3" "$TLS_NET.4"
    printf 'TLS_WRONGHOST_NAME=%s\n' "$TLS_WRONG_NAME"
    printf 'SELFSIGNED_HOST=%s\nSELFSIGNED_SMTP_PORT=%s\nSELFSIGNED_POP_PORT=%s\n' \
        "$TLS_NET.6" "$SELFSIGNED_SMTP_PORT" "$SELFSIGNED_POP_PORT"
    printf 'SELFSIGNED_CERT_FILE=%s\n' "$T/selfsigned.pem"
}

# True when every TLS service answers.
tls_ready() {
    local n
    for n in 1 2 3 4; do
        greets_at "$TLS_NET.$n" "$TLS_SMTP_PORT" 220 && greets_at "$TLS_NET.$n" "$TLS_POP_PORT" +OK || return 1
    done
    greets_at "$TLS_NET.6" "$SELFSIGNED_SMTP_PORT" 220 && greets_at "$TLS_NET.6" "$SELFSIGNED_POP_PORT" +OK \
        || return 1
    ! tls_port_free "$TLS_NET.1" "$TLS_IMPLICIT_SMTP" && ! tls_port_free "$TLS_NET.1" "$TLS_IMPLICIT_POP"
}

greets_at() { # ADDR PORT PREFIX
    local line="" fd
    exec {fd}<>"/dev/tcp/$1/$2" || return 1
    IFS= read -r -t 3 line <&"$fd" || true
    { printf 'QUIT\r\n' >&"$fd"; } 2>/dev/null || true
    exec {fd}>&-
    [[ $line == "$3"* ]]
}
